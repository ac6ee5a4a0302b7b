// The launcher font: text font choice and fallback, merged icon fonts, and the
// compressed icon font's round trip through the GUI's decompressor.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>

#include "imgui.h"
#include "resources/embedded.h"
#include "test_support.h"
#include "ui/theme.h"

namespace starfell {
namespace {

struct AtlasDeleter {
    void operator()(ImFontAtlas* atlas) const { IM_DELETE(atlas); }
};
using Atlas = std::unique_ptr<ImFontAtlas, AtlasDeleter>;
Atlas makeAtlas() { return Atlas(IM_NEW(ImFontAtlas)()); }

std::uint32_t adler32(const unsigned char* data, size_t size) {
    std::uint32_t a = 1, b = 0;
    for (size_t i = 0; i < size; ++i) {
        a = (a + data[i]) % 65521;
        b = (b + a) % 65521;
    }
    return (b << 16) | a;
}

constexpr ImWchar Cog = 0xF013, Minimise = 0xF2D1, Cross = 0xF00D;

void expectIconsMerged(ImFontAtlas& atlas) {
    ASSERT_TRUE(atlas.Build());
    ASSERT_EQ(atlas.Fonts.Size, 1);  // one font, three sources
    ASSERT_EQ(atlas.ConfigData.Size, 3);
    ImFont* font = atlas.Fonts[0];
    for (ImWchar icon : {Cog, Minimise, Cross}) EXPECT_NE(font->FindGlyphNoFallback(icon), nullptr) << icon;
    EXPECT_NE(font->FindGlyphNoFallback('A'), nullptr);
    EXPECT_EQ(font->FindGlyphNoFallback(0x0416), nullptr);  // Cyrillic is outside the default range
}

TEST(LauncherFont, FallsBackToTheBuiltInFontWithIconsWhenNoTextFontCanBeRead) {
    test::ScratchFolder folder;
    const auto garbage = folder.path() / "garbage.ttf";
    test::writeFile(garbage, std::string(4096, 'x'));
    const auto empty = folder.path() / "empty.ttf";
    test::writeFile(empty, "");

    test::CapturedDiagnostics diagnostics;
    Atlas atlas = makeAtlas();
    const std::string used = buildLauncherFont(
        *atlas, {(folder.path() / "missing.ttf").string(), garbage.string(), empty.string()});
    EXPECT_EQ(used, "");
    EXPECT_NE(diagnostics.text().find("Text font not found, using the built-in font: "), std::string::npos);
    // The built-in font is the base and the icon fonts merged into it.
    EXPECT_FALSE(atlas->ConfigData[0].MergeMode);
    EXPECT_STREQ(atlas->ConfigData[0].Name, "ProggyClean.ttf, 13px");
    expectIconsMerged(*atlas);
}

TEST(LauncherFont, UsesTheFirstReadableTextFontWithTheConfiguredSources) {
    test::ScratchFolder folder;
    // A TrueType file to stand for the text font: the embedded solid icon font is one.
    const auto textFont = folder.path() / "text.ttf";
    test::writeFile(textFont, std::string(reinterpret_cast<const char*>(resources::fontAwesomeSolid),
                                          resources::fontAwesomeSolidSize));
    Atlas atlas = makeAtlas();
    EXPECT_EQ(buildLauncherFont(*atlas, {(folder.path() / "missing.ttf").string(), textFont.string()}),
              textFont.string());
    const ImFontConfig& text = atlas->ConfigData[0];
    EXPECT_EQ(text.SizePixels, 14.0f);
    EXPECT_EQ(text.OversampleH, 1);
    EXPECT_EQ(text.OversampleV, 1);
    EXPECT_TRUE(text.PixelSnapH);
    const ImFontConfig& solid = atlas->ConfigData[1];
    EXPECT_TRUE(solid.MergeMode);
    EXPECT_EQ(solid.OversampleH, 3);
    EXPECT_EQ(solid.GlyphRanges[1], 0xF950);
    const ImFontConfig& legacy = atlas->ConfigData[2];
    EXPECT_TRUE(legacy.MergeMode);
    EXPECT_TRUE(legacy.FontDataOwnedByAtlas);
    EXPECT_EQ(legacy.OversampleV, 2);
    EXPECT_EQ(legacy.GlyphRanges[1], 0xF3FF);
}

TEST(LauncherFont, CompressedIconFontDecompressesToTheOriginalBytes) {
    const unsigned char* stream = resources::fontAwesomeLegacyCompressed;
    // Magic 0x57BC0000, a zero word, then the big-endian decompressed length.
    EXPECT_EQ(stream[0], 0x57);
    EXPECT_EQ(stream[1], 0xBC);
    EXPECT_EQ(stream[4] | stream[5] | stream[6] | stream[7], 0);
    EXPECT_LT(resources::fontAwesomeLegacyCompressedSize, resources::fontAwesomeLegacyCompressedOriginalSize);

    Atlas atlas = makeAtlas();
    static const ImWchar ranges[] = {0xF000, 0xF3FF, 0};
    ImFont* font = atlas->AddFontFromMemoryCompressedTTF(resources::fontAwesomeLegacyCompressed,
                                                         static_cast<int>(resources::fontAwesomeLegacyCompressedSize),
                                                         16.0f, nullptr, ranges);
    ASSERT_NE(font, nullptr);
    const ImFontConfig& config = atlas->ConfigData[0];
    ASSERT_EQ(static_cast<size_t>(config.FontDataSize), resources::fontAwesomeLegacyCompressedOriginalSize);
    EXPECT_EQ(adler32(static_cast<const unsigned char*>(config.FontData), config.FontDataSize),
              resources::fontAwesomeLegacyCompressedOriginalAdler32);
    ASSERT_TRUE(atlas->Build());
    EXPECT_NE(font->FindGlyphNoFallback(Cog), nullptr);
}

TEST(LauncherFont, HostTextFontIsFoundWhereTheMachineHasOne) {
    const std::vector<std::string> candidates = textFontFiles();
    ASSERT_FALSE(candidates.empty());
    Atlas atlas = makeAtlas();
    const std::string used = buildLauncherFont(*atlas, candidates);
    if (used.empty()) GTEST_SKIP() << "no text font on this machine";
    expectIconsMerged(*atlas);
}

}  // namespace
}  // namespace starfell
