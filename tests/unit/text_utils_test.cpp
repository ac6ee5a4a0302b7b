// Text conversion and splitting.
#include <gtest/gtest.h>

#include "base/text_utils.h"

namespace starfell {
namespace {

using Pieces = std::vector<std::string>;

TEST(SplitText, KeepsEmptyPiecesAtEveryPosition) {
    EXPECT_EQ(splitText(std::string(""), "\n"), Pieces({""}));
    EXPECT_EQ(splitText(std::string("1001\n1002\n"), "\n"), Pieces({"1001", "1002", ""}));
    EXPECT_EQ(splitText(std::string("a\n\nb"), "\n"), Pieces({"a", "", "b"}));
    EXPECT_EQ(splitText(std::string("\n"), "\n"), Pieces({"", ""}));
    EXPECT_EQ(splitText(std::string("no delimiter"), "\n"), Pieces({"no delimiter"}));
}

TEST(SplitText, MultiCharacterDelimiterAndWideForm) {
    EXPECT_EQ(splitText(std::string("a, b,, c"), ", "), Pieces({"a", "b,", "c"}));
    EXPECT_EQ(splitText(std::wstring(L"1001\n1003\n1002"), L"\n"),
              std::vector<std::wstring>({L"1001", L"1003", L"1002"}));
    EXPECT_EQ(splitText(std::wstring(), L"\n"), std::vector<std::wstring>({L""}));
}

TEST(TextConversion, EmptyTextStaysEmpty) {
    EXPECT_EQ(utf8ToWide(""), L"");
    EXPECT_EQ(wideToUtf8(L""), "");
}

TEST(TextConversion, NonAsciiRoundTrips) {
    const std::string samples[] = {
        "plain ascii",
        "caf\xC3\xA9 \xC3\xBC",                       // Latin-1 range
        "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82",  // Cyrillic
        "\xE6\x97\xA5\xE6\x9C\xAC",                   // CJK
        "\xF0\x9F\x98\x80 outside the BMP",           // needs a surrogate pair in UTF-16
    };
    for (const auto& sample : samples) EXPECT_EQ(wideToUtf8(utf8ToWide(sample)), sample) << sample;
    EXPECT_EQ(utf8ToWide("caf\xC3\xA9"), L"caf\u00E9");
    EXPECT_EQ(utf8ToWide("\xE6\x97\xA5"), L"\u65E5");
}

TEST(TextConversion, MalformedInputIsReplacedNotRejected) {
    const std::wstring wide = utf8ToWide("a\xFF" "b");
    ASSERT_EQ(wide.size(), 3u);
    EXPECT_EQ(wide[0], L'a');
    EXPECT_EQ(wide[1], static_cast<wchar_t>(0xFFFD));
    EXPECT_EQ(wide[2], L'b');
    // A sequence cut off at the end of the text.
    EXPECT_EQ(utf8ToWide("ok\xE6\x97").substr(0, 2), L"ok");
    EXPECT_NE(utf8ToWide("ok\xE6\x97").find(static_cast<wchar_t>(0xFFFD)), std::wstring::npos);
}

}  // namespace
}  // namespace starfell
