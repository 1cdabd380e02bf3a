// Jars as vexlo-pack init reads them: damaged copies of a real jar, made from fixed seeds, end in an error
// with a reason, never in a crash, a read outside the archive or a hang.
#include <gtest/gtest.h>

#include <random>

#include "JarInit.h"
#include "TestSupport.h"
#include "ZipReader.h"

using namespace vexlo;
using namespace vexlo::test;

namespace {

std::vector<uint8_t> runtimeJar() {
    std::optional<std::string> bytes = readFileBytes(binDir() + L"\\vexlo-runtime.jar");
    return bytes ? std::vector<uint8_t>(bytes->begin(), bytes->end()) : std::vector<uint8_t>();
}

}  // namespace

TEST(JarReading, IntactJarGivesItsManifestAndEveryEntry) {
    std::vector<uint8_t> jar = runtimeJar();
    ASSERT_FALSE(jar.empty()) << "vexlo-runtime.jar is not built";
    pack::JarFacts facts;
    std::string error;
    ASSERT_TRUE(pack::readJarFacts(jar, &facts, &error)) << error;
    EXPECT_EQ(facts.moduleName, "com.vexlo.runtime");
    std::vector<pack::ZipEntry> entries;
    ASSERT_TRUE(pack::readZipDirectory(jar, &entries, &error)) << error;
    std::string data;
    for (const auto& e : entries) EXPECT_TRUE(pack::readZipEntry(jar, e, 1u << 20, &data, &error)) << error;
}

TEST(JarReading, DamagedCopiesFailWithAReasonOrReadConsistently) {
    const std::vector<uint8_t> jar = runtimeJar();
    ASSERT_FALSE(jar.empty()) << "vexlo-runtime.jar is not built";
    std::vector<pack::ZipEntry> entries;
    std::string error;
    ASSERT_TRUE(pack::readZipDirectory(jar, &entries, &error));
    int failed = 0;
    for (unsigned seed = 1; seed <= 400; ++seed) {
        std::mt19937 rng(seed);
        std::vector<uint8_t> copy = jar;
        auto at = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng); };
        bool mustFail = false;  // damage that is always noticed
        switch (seed % 4) {
            case 0:  // cut short
                copy.resize(at(copy.size()));
                mustFail = true;
                break;
            case 1:  // a few bytes anywhere
                for (int i = 0; i < 1 + static_cast<int>(seed % 8); ++i)
                    copy[at(copy.size())] ^= static_cast<uint8_t>(1 + rng() % 255);
                break;
            case 2: {  // four bytes of the central directory (at the tail) made huge or arbitrary
                size_t pos = copy.size() - 22 - at(std::min<size_t>(copy.size() - 22, 4096));
                uint32_t v = seed % 3 == 0 ? 0xFFFFFFFFu : static_cast<uint32_t>(rng());
                for (size_t k = 0; k < 4; ++k) copy[pos + k] = static_cast<uint8_t>(v >> (8 * k));
                break;
            }
            default:  // the compressed data of the manifest or the module descriptor
                for (const auto& e : entries) {
                    if (e.name != "META-INF/MANIFEST.MF") continue;
                    const auto lh = static_cast<size_t>(e.localHeader);
                    const size_t data = lh + 30 + (copy[lh + 26] | copy[lh + 27] << 8) +
                                        (copy[lh + 28] | copy[lh + 29] << 8);
                    copy[data + at(static_cast<size_t>(e.compressedSize))] ^= 0x5A;
                    mustFail = true;  // a checksum guards it
                }
                break;
        }
        pack::JarFacts facts;
        error.clear();
        if (!pack::readJarFacts(copy, &facts, &error)) {
            ++failed;
            EXPECT_FALSE(error.empty()) << "seed " << seed;
        } else {
            EXPECT_FALSE(mustFail) << "seed " << seed << ": a cut or corrupted jar was read";
        }
    }
    EXPECT_GT(failed, 100) << "most damage goes unnoticed";
}
