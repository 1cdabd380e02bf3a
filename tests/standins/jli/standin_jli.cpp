// Stands in for the argument-file functions of a Java runtime's jli.dll. "@file" is replaced by the file's
// non-empty lines (line ends CR LF or LF), one option each; any other argument, or a file that cannot be
// read, gives no list. Each call is recorded in the file named by VEXLO_STANDIN_JLI_RECORD (when set):
//   init|<hasJavaArgs>|<disableArgFile>
//   preprocess|<argument>|<expandSourceOption>
//   free
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "../StandinRecord.h"

extern "C" {
struct JliList {
    char** elements;
    size_t size;
    size_t capacity;
};
}

namespace {

void record(const std::string& line) {
    standin::appendRecordLine(standin::recordPathFrom("VEXLO_STANDIN_JLI_RECORD"), line);
}

bool readLines(const char* path, std::vector<std::string>& lines) {
    std::FILE* file = std::fopen(path, "rb");
    if (!file) return false;
    std::string line;
    for (int c; (c = std::fgetc(file)) != EOF;) {
        if (c == '\n') {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (!line.empty()) lines.push_back(line);
            line.clear();
        } else {
            line += static_cast<char>(c);
        }
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(line);
    std::fclose(file);
    return true;
}

char* copyOf(const std::string& text) {
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (copy) std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

}  // namespace

extern "C" __declspec(dllexport) void JLI_InitArgProcessing(unsigned char hasJavaArgs, unsigned char disableArgFile) {
    record("init|" + std::to_string(hasJavaArgs) + "|" + std::to_string(disableArgFile));
}

extern "C" __declspec(dllexport) JliList* JLI_PreprocessArg(const char* argument, unsigned char expandSourceOption) {
    record(std::string("preprocess|") + argument + "|" + std::to_string(expandSourceOption));
    std::vector<std::string> lines;
    if (argument[0] != '@' || !readLines(argument + 1, lines)) return nullptr;
    auto* list = static_cast<JliList*>(std::malloc(sizeof(JliList)));
    list->capacity = lines.size() + 1;
    list->elements = static_cast<char**>(std::malloc(list->capacity * sizeof(char*)));
    list->size = lines.size();
    for (size_t i = 0; i < lines.size(); ++i) list->elements[i] = copyOf(lines[i]);
    return list;
}

#ifndef VEXLO_STANDIN_JLI_NO_FREE
extern "C" __declspec(dllexport) void JLI_MemFree(void* memory) {
    record("free");
    std::free(memory);
}
#endif
