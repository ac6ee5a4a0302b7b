// Binary deltas in patch archives: applied only over their exact base, a file
// the player changed fetched whole, and a damaged or lying delta never leaving
// a wrong file or a version file that claims the patch.
#include <gtest/gtest.h>

#include <sodium.h>
#include <zstd.h>

#include <vector>

#include "test_support.h"
#include "update/delta_format.h"
#include "update/patches.h"
#include "zip_builder.h"

namespace starfell {
namespace {

std::string blake2b(const std::string& bytes) {
    unsigned char digest[delta::kDigestBytes];
    crypto_generichash(digest, sizeof digest, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                       nullptr, 0);
    char text[2 * delta::kDigestBytes + 1];
    sodium_bin2hex(text, sizeof text, digest, sizeof digest);
    return text;
}

// One chunk against the whole base, as make-patch writes small files.
std::string deltaOf(const std::string& base, const std::string& result, delta::ChunkHeader header = {}) {
    std::string frame(ZSTD_compressBound(result.size()), '\0');
    ZSTD_CCtx* context = ZSTD_createCCtx();
    ZSTD_CCtx_refPrefix(context, base.data(), base.size());
    frame.resize(ZSTD_compress2(context, &frame[0], frame.size(), result.data(), result.size()));
    ZSTD_freeCCtx(context);
    if (header.referenceLength == 0) header = {0, static_cast<std::uint32_t>(base.size()), 0, 0};
    header.resultLength = static_cast<std::uint32_t>(result.size());
    header.frameLength = static_cast<std::uint32_t>(frame.size());
    unsigned char bytes[delta::kChunkHeaderBytes];
    delta::encodeChunkHeader(header, bytes);
    return std::string(reinterpret_cast<char*>(bytes), sizeof bytes) + frame;
}

std::string indexLine(const std::string& path, const std::string& base, const std::string& result) {
    return path + "\t" + blake2b(base) + "\t" + blake2b(result) + "\t" + std::to_string(result.size()) + "\n";
}

const std::string kBase = test::patternBytes(300000);
std::string edited() {
    std::string result = kBase;
    result.replace(1000, 50, "a change in the middle of the old bytes");
    return result.insert(150000, std::string(4000, 'n'));
}

struct Fetches {
    std::vector<std::string> paths;
    std::string content;  // what a fetch delivers; nothing when empty
    delta::WholeFileFetch fetch() {
        return [this](const std::string& path, const std::string& destination) {
            paths.push_back(path);
            if (!content.empty()) test::writeFile(test::pathOf(destination), content);
            return !content.empty();
        };
    }
};

TEST(DeltaApply, MatchingBaseTakesTheDeltaAChangedFileComesWholeAndARerunFetchesNothing) {
    test::ScratchFolder game, staging;
    const std::string result = edited();
    std::filesystem::create_directory(game.path() / "data");
    test::writeFile(game.path() / "data" / "a.dat", kBase);
    test::writeFile(game.path() / "data" / "b.dat", "changed by the player");
    const std::string archive = staging.narrow() + "1001.zip";
    test::writeFile(archive, test::ZipBuilder()
                                 .file(".starfell-delta/data/a.dat", deltaOf(kBase, result), MZ_NO_COMPRESSION)
                                 .file(".starfell-delta/data/b.dat", deltaOf(kBase, result), MZ_NO_COMPRESSION)
                                 .file(".starfell-delta/index.txt",
                                       indexLine("data/a.dat", kBase, result) + indexLine("data/b.dat", kBase, result))
                                 .file("version.dat", "1001")
                                 .bytes());
    Fetches fetches{{}, result};
    ASSERT_TRUE(extractArchive(archive, game.narrow(), true, fetches.fetch()));
    EXPECT_EQ(test::readFile(game.path() / "data" / "a.dat"), result);
    EXPECT_EQ(test::readFile(game.path() / "data" / "b.dat"), result);
    EXPECT_EQ(fetches.paths, std::vector<std::string>{"data/b.dat"});
    EXPECT_EQ(test::namesIn(game.path() / "data"), (std::vector<std::string>{"a.dat", "b.dat"}));
    EXPECT_EQ(test::readFile(game.path() / "version.dat"), "1001");
    EXPECT_FALSE(std::filesystem::exists(game.path() / ".starfell-delta"));

    // A run cut off after the files were replaced finds them at their result.
    ASSERT_TRUE(extractArchive(archive, game.narrow(), true, fetches.fetch()));
    EXPECT_EQ(fetches.paths.size(), 1u);
}

TEST(DeltaApply, DamagedOrLyingDeltasLeaveTheFileAndTheVersionAsTheyWere) {
    const std::string result = edited();
    const std::string good = deltaOf(kBase, result);
    std::string flipped = good;
    flipped[flipped.size() / 2] ^= 0x5a;
    const delta::ChunkHeader pastTheBase{100, static_cast<std::uint32_t>(kBase.size()), 0, 0};
    const struct {
        const char* what;
        std::string delta, index;
    } cases[] = {
        {"truncated", good.substr(0, good.size() - 10), indexLine("a.dat", kBase, result)},
        {"flipped byte", flipped, indexLine("a.dat", kBase, result)},
        {"trailing bytes", good + "x", indexLine("a.dat", kBase, result)},
        {"reference past the base", deltaOf(kBase, result, pastTheBase), indexLine("a.dat", kBase, result)},
        {"result larger than the index says", good, indexLine("a.dat", kBase, result.substr(1))},
        {"unsafe path", good, indexLine("../a.dat", kBase, result)},
        {"bad index line", good, "a.dat\tnot-a-digest\t\t1\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::ScratchFolder game, staging;
        test::writeFile(game.path() / "a.dat", kBase);
        test::writeFile(game.path() / "version.dat", "1000");
        const std::string archive = staging.narrow() + "1001.zip";
        test::writeFile(archive, test::ZipBuilder()
                                     .file(".starfell-delta/a.dat", c.delta, MZ_NO_COMPRESSION)
                                     .file(".starfell-delta/index.txt", c.index)
                                     .file("version.dat", "1001")
                                     .bytes());
        test::CapturedDiagnostics diagnostics;
        Fetches fetches;
        EXPECT_FALSE(extractArchive(archive, game.narrow(), true, fetches.fetch()));
        EXPECT_EQ(test::readFile(game.path() / "a.dat"), kBase);
        EXPECT_EQ(test::readFile(game.path() / "version.dat"), "1000");
        EXPECT_EQ(test::namesIn(game.path()), (std::vector<std::string>{"a.dat", "version.dat"}));
    }
}

}  // namespace
}  // namespace starfell
