// Reading the block from the launcher's own file: the fatal texts of each failing read, and damaged blocks
// that must end in a defined way, never in a crash or a hang.
#include <random>

#include "LauncherFixture.h"
#include "config/ConfigIds.h"

using namespace vexlo;
using vexlo::e2e::show;

namespace {

enum class Field { Int, Long, String, WString };

const wchar_t* fatalText(Field f) {
    switch (f) {
        case Field::Int: return L"Internal Error: readInt";
        case Field::Long: return L"Internal Error: readLong";
        case Field::String: return L"Internal Error: readString";
        case Field::WString: return L"Internal Error: readWString";
    }
    return L"";
}

// Where the fields of a serialized block lie: the read that covers every byte, and the count and length fields.
struct Layout {
    std::vector<Field> byteField;
    std::vector<size_t> fieldStarts;
    std::vector<size_t> counts;
    std::vector<std::pair<size_t, Field>> lengths;  // position, and the read that uses the length
};

Layout layoutOf(const std::vector<uint8_t>& b) {
    Layout layout;
    size_t pos = 0;
    auto i32 = [&](size_t at) {
        return static_cast<int32_t>(static_cast<uint32_t>(b[at]) | static_cast<uint32_t>(b[at + 1]) << 8 |
                                    static_cast<uint32_t>(b[at + 2]) << 16 | static_cast<uint32_t>(b[at + 3]) << 24);
    };
    auto take = [&](size_t n, Field f) {
        if (n > 0) layout.fieldStarts.push_back(pos);
        for (size_t k = 0; k < n; ++k) layout.byteField.push_back(f);
        pos += n;
    };
    auto count = [&]() {
        layout.counts.push_back(pos);
        int32_t n = i32(pos);
        take(4, Field::Int);
        return n;
    };
    auto data = [&](Field f) {
        layout.lengths.emplace_back(pos, f);
        auto n = static_cast<size_t>(i32(pos));
        take(4, Field::Int);
        take(n, f);
    };
    take(12, Field::Int);
    take(8, Field::Long);
    for (int32_t n = count(); n > 0; --n) take(4, Field::Int), data(Field::String);
    for (int32_t n = count(); n > 0; --n) take(4, Field::Int), data(Field::WString);
    for (int32_t g = count(); g > 0; --g) {
        data(Field::String);
        for (int32_t n = count(); n > 0; --n) take(4, Field::Int), data(Field::WString);
    }
    EXPECT_EQ(pos, b.size());
    return layout;
}

pack::Block validBlock() {
    pack::Block b;
    b.set(ids::kServiceName, "VexloDamagedNoSuchService")
        .set(ids::kLauncherKind, "e")
        .set(ids::kMsgErrorTitle, "Damaged title");
    for (int id : {3, 17, 4242, 10001, 20000}) b.set(id, "value of " + std::to_string(id));
    b.set(5, "");
    b.message(ids::kMsgErrorTitle, u"Fehler")
        .message(ids::kMsgNoJvmFound, u"No Java {0}")
        .message(ids::kMsgMainClassNotFound, u"")
        .message(7, u"\u65e5\u672c");
    b.group("en", {{1000, u"Error"}, {1016, u"No runtime {0}"}});
    b.group("de", {{1016, u"Kein Java {0}"}});
    b.group("", {{1010, u"Main class"}});
    return b;
}

void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int k = 0; k < 4; ++k) b[at + static_cast<size_t>(k)] = static_cast<uint8_t>(v >> (8 * k));
}

struct Variant {
    std::vector<uint8_t> bytes;
    std::string what;
    const wchar_t* expected = nullptr;  // the one fatal text that must be shown, or any defined one
    bool mayEndWell = true;
};

class BlockReading : public e2e::LauncherFixture {
protected:
    // Runs a launcher carrying `bytes` with the help word, so that a readable block ends quickly with the usage
    // (the service dispatcher would take seconds to give up under Wine).
    test::RunResult runBlock(const std::vector<uint8_t>& bytes) {
        std::wstring exe = test::makeLauncherWithBytes(appDir.path(), L"damaged.exe", bytes);
        test::RunResult r = run(exe, {L"/help"});
        DeleteFileW(exe.c_str());
        return r;
    }

    // A process that has shown a message box takes about two seconds to end under Wine, so the variants run
    // several at a time.
    std::vector<test::RunResult> runAll(const std::vector<Variant>& variants) {
        std::vector<std::wstring> programs;
        for (size_t i = 0; i < variants.size(); ++i)
            programs.push_back(test::makeLauncherWithBytes(appDir.path(), L"damaged" + std::to_wstring(i) + L".exe",
                                                           variants[i].bytes));
        std::vector<test::RunResult> results = test::runProcesses(programs, options({L"/help"}), 8);
        for (size_t i = 0; i < variants.size(); ++i) {
            expectDefinedEnd(results[i], variants[i].what, variants[i].expected, variants[i].mayEndWell);
            DeleteFileW(programs[i].c_str());
        }
        return results;
    }

    // Exit 0 without any message, or exit 1 after exactly one fatal text (`expected` when given).
    void expectDefinedEnd(const test::RunResult& r, const std::string& what, const wchar_t* expected = nullptr,
                          bool mayEndWell = true) {
        std::string context = what + "\n" + show(r);
        ASSERT_FALSE(r.timedOut) << context;
        ASSERT_TRUE(r.exitCode == 1 || (mayEndWell && r.exitCode == 0)) << context;
        if (r.exitCode == 0) {
            EXPECT_TRUE(r.boxes.empty()) << context;
            return;
        }
        // Block errors come before the display mode is read, so they are shown in a box.
        ASSERT_EQ(r.boxes.size(), 1u) << context;
        const std::wstring& text = r.boxes[0].text;
        if (expected) {
            EXPECT_EQ(text, expected) << context;
        } else {
            EXPECT_NE(std::find(e2e::kFatalBlockTexts.begin(), e2e::kFatalBlockTexts.end(), text),
                      e2e::kFatalBlockTexts.end())
                << context;
        }
    }

    std::vector<uint8_t> base = pack::serializeBlock(validBlock());
    Layout layout = layoutOf(base);
    std::mt19937 random{20261208};
};

}  // namespace

TEST_F(BlockReading, ValidBlockReachesTheCommand) {
    test::RunResult r = runBlock(base);
    EXPECT_EQ(r.exitCode, 0u) << show(r);
    EXPECT_EQ(r.out.rfind("Usage: ", 0), 0u) << show(r);
    EXPECT_TRUE(r.boxes.empty()) << show(r);
}

TEST_F(BlockReading, WrongMagicIsFatalWithEmptyTitle) {
    std::vector<Variant> variants;
    for (size_t at = 0; at < 4; ++at) {
        Variant v{base, "magic byte " + std::to_string(at), L"Internal Error: magic", false};
        v.bytes[at] ^= 0x01;
        variants.push_back(std::move(v));
    }
    for (const auto& r : runAll(variants)) {
        if (!r.boxes.empty()) {
            EXPECT_EQ(r.boxes[0].title, L"");
        }
    }
}

TEST_F(BlockReading, HeaderFieldsAreIgnored) {
    pack::Block b = validBlock();
    b.header1 = 0xFFFFFFFF;
    b.header2 = 0x80000000;
    b.header3 = 0xFFFFFFFFFFFFFFFFull;
    test::RunResult r = runBlock(pack::serializeBlock(b));
    EXPECT_EQ(r.exitCode, 0u) << show(r);
}

TEST_F(BlockReading, FailureLateInTheFirstPassUsesTheConfiguredTitle) {
    pack::Block b;
    b.set(ids::kMsgErrorTitle, "Configured title").set(ids::kServiceName, "cut here");
    std::vector<uint8_t> bytes = pack::serializeBlock(b);
    // Keep the configuration entries but the value's last byte.
    Layout l = layoutOf(bytes);
    bytes.resize(l.counts[1] - 1);
    test::RunResult r = runBlock(bytes);
    expectDefinedEnd(r, "cut config value", L"Internal Error: readString", false);
    if (!r.boxes.empty()) {
        EXPECT_EQ(r.boxes[0].title, L"Configured title");
    }
}

TEST_F(BlockReading, FailureInTheSecondPassUsesTheMessageTitleReadSoFar) {
    pack::Block b;
    b.set(ids::kMsgErrorTitle, "Configured title")
        .message(ids::kMsgErrorTitle, u"Message title")
        .message(ids::kMsgMainClassNotFound, u"cut here");
    std::vector<uint8_t> bytes = pack::serializeBlock(b);
    Layout l = layoutOf(bytes);
    bytes.resize(l.counts[2] - 1);
    test::RunResult r = runBlock(bytes);
    expectDefinedEnd(r, "cut message text", L"Internal Error: readWString", false);
    if (!r.boxes.empty()) {
        EXPECT_EQ(r.boxes[0].title, L"Message title");
    }
}

TEST_F(BlockReading, EveryTruncationNamesTheReadItCut) {
    // Every field border, a few cuts inside fields, and the last byte.
    std::vector<size_t> cuts = layout.fieldStarts;
    for (size_t inside : {size_t{1}, size_t{3}, size_t{19}, size_t{23}, base.size() - 1}) cuts.push_back(inside);
    std::vector<Variant> variants;
    for (size_t cut : cuts)
        variants.push_back({std::vector<uint8_t>(base.begin(), base.begin() + static_cast<std::ptrdiff_t>(cut)),
                            "cut at " + std::to_string(cut), fatalText(layout.byteField[cut]), false});
    runAll(variants);
}

TEST_F(BlockReading, LengthsPastTheEndOrNegativeAreShortReads) {
    const uint32_t values[] = {0xFFFFFFFFu, 0x80000000u, 0x7FFFFFFFu, 0x40000000u, 0x00100000u, 0xFFFFFFFEu};
    std::vector<Variant> variants;
    // Each length once, the damaging values in turn.
    for (size_t i = 0; i < layout.lengths.size(); ++i) {
        auto [at, field] = layout.lengths[i];
        uint32_t value = values[i % std::size(values)];
        Variant v{base, "length at " + std::to_string(at) + " = " + std::to_string(value), fatalText(field), false};
        put32(v.bytes, at, value);
        variants.push_back(std::move(v));
    }
    // One byte more than the rest of the file holds.
    for (auto [at, field] : layout.lengths) {
        Variant v{base, "length at " + std::to_string(at) + " one past the end", fatalText(field), false};
        put32(v.bytes, at, static_cast<uint32_t>(base.size() - at - 4 + 1));
        variants.push_back(std::move(v));
    }
    runAll(variants);
}

TEST_F(BlockReading, DamagedCountsEndInADefinedWay) {
    const uint32_t values[] = {0xFFFFFFFFu, 0x80000000u, 0x7FFFFFFFu, 0x00010000u, 0u, 1u, 2u, 3u};
    std::vector<Variant> variants;
    for (size_t c = 0; c < layout.counts.size(); ++c) {
        for (uint32_t value : values) {
            Variant v{base, "count " + std::to_string(c) + " = " + std::to_string(value)};
            put32(v.bytes, layout.counts[c], value);
            variants.push_back(std::move(v));
        }
    }
    runAll(variants);
}

TEST_F(BlockReading, RandomByteFlipsEndInADefinedWay) {
    std::uniform_int_distribution<size_t> anywhere(20, base.size() - 1);  // magic and header are tested above
    std::uniform_int_distribution<int> flips(1, 4), mask(1, 255);
    std::vector<Variant> variants;
    for (int run = 0; run < 30; ++run) {
        Variant v{base, "flips"};
        for (int n = flips(random); n > 0; --n) {
            size_t at = anywhere(random);
            v.bytes[at] = static_cast<uint8_t>(v.bytes[at] ^ mask(random));
            v.what += " " + std::to_string(at);
        }
        variants.push_back(std::move(v));
    }
    runAll(variants);
}
