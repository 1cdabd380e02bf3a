#include "InputLimits.h"

#include <string>

namespace vexlo::pack {

namespace {

bool isBareKeyChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
}

// Walks the text as the TOML lexer does as far as keys are concerned: strings and comments are skipped, and
// every run of key parts joined by dots (with blanks around them) is counted. Values never hold such runs
// outside strings, except a float's single dot.
class KeyScanner {
public:
    explicit KeyScanner(std::string_view text) : text_(text) {}

    std::optional<Diagnostic> scan(const std::string& displayName) {
        while (at_ < text_.size()) {
            const char c = text_[at_];
            if (c == '"' || c == '\'') {
                if (text_.substr(at_, 3) == std::string_view(c == '"' ? "\"\"\"" : "'''")) {
                    partsEnd();  // a multi-line string is a value, never a key part
                    skipMultiLine(c);
                } else {
                    partStart();  // a quoted key part or a value; the run goes on either way
                    skipString(c);
                }
                continue;
            }
            if (c == '.') {
                partStart();
                if (++dots_ + 1 > kMaxKeyParts)
                    return Diagnostic{displayName, startLine_, startColumn_,
                                      "a dotted key or table name of more than " + std::to_string(kMaxKeyParts) +
                                          " parts (no key of this file has more than a few)"};
            } else if (isBareKeyChar(c)) {
                partStart();
            } else if (c != ' ' && c != '\t') {
                partsEnd();
                if (c == '#') skipComment();
            }
            advance();
        }
        return std::nullopt;
    }

private:
    void advance() {
        const char c = text_[at_++];
        if (c == '\n') {
            ++line_;
            column_ = 1;
        } else if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) {
            ++column_;  // columns count characters, not the continuation bytes of UTF-8
        }
    }
    void partStart() {
        if (inRun_) return;
        inRun_ = true;
        dots_ = 0;
        startLine_ = line_;
        startColumn_ = column_;
    }
    void partsEnd() { inRun_ = false; }

    void skipComment() {
        while (at_ < text_.size() && text_[at_] != '\n') advance();
    }
    // A one-line string ends at its quote or, unterminated, at the line's end (the parser reports that).
    void skipString(char quote) {
        advance();
        while (at_ < text_.size() && text_[at_] != quote && text_[at_] != '\n') {
            if (quote == '"' && text_[at_] == '\\' && at_ + 1 < text_.size() && text_[at_ + 1] != '\n') advance();
            advance();
        }
        if (at_ < text_.size() && text_[at_] == quote) advance();
    }
    void skipMultiLine(char quote) {
        const std::string_view delimiter = quote == '"' ? "\"\"\"" : "'''";
        for (int i = 0; i < 3; ++i) advance();
        while (at_ < text_.size() && text_.substr(at_, 3) != delimiter) {
            if (quote == '"' && text_[at_] == '\\' && at_ + 1 < text_.size()) advance();
            advance();
        }
        for (int i = 0; i < 3 && at_ < text_.size(); ++i) advance();
    }

    std::string_view text_;
    size_t at_ = 0;
    int line_ = 1, column_ = 1;
    bool inRun_ = false;
    size_t dots_ = 0;
    int startLine_ = 1, startColumn_ = 1;
};

}  // namespace

std::optional<Diagnostic> inputLimitProblem(std::string_view text, const std::string& displayName) {
    if (text.size() > kMaxConfigFileBytes)
        return Diagnostic{displayName, 1, 1,
                          "the file has " + std::to_string(text.size()) + " bytes, more than a configuration file of " +
                              std::to_string(kMaxConfigFileBytes) + " bytes may have"};
    return KeyScanner(text).scan(displayName);
}

}  // namespace vexlo::pack
