// Linux: the text font comes from fontconfig, not from a fixed folder.
#include <gtest/gtest.h>
#include <unistd.h>

#include "ui/theme.h"

namespace starfell {
namespace {

TEST(TextFontFiles, FontconfigNamesReadableBoldFaces) {
    const std::vector<std::string> files = textFontFiles();
    if (files.empty()) GTEST_SKIP() << "fontconfig knows no TrueType sans-serif face here";
    for (const std::string& file : files) EXPECT_EQ(access(file.c_str(), R_OK), 0) << file;
    // The best pick is bold (Liberation Sans Bold where installed, as Arial's stand-in).
    const std::string name = files.front().substr(files.front().rfind('/') + 1);
    EXPECT_NE(name.find("Bold"), std::string::npos) << files.front();
}

}  // namespace
}  // namespace starfell
