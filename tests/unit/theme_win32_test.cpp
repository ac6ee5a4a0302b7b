// Windows: the text font comes from the system's fonts folder; the Z: fallback
// only under Wine (these tests run under Wine).
#include <gtest/gtest.h>
#include <windows.h>

#include "ui/theme.h"

namespace starfell {
namespace {

TEST(TextFontFiles, SystemFontsFolderFirstAndTheHostFontOnlyUnderWine) {
    const std::vector<std::string> files = textFontFiles();
    ASSERT_FALSE(files.empty());
    char windows[MAX_PATH] = {};
    ASSERT_NE(GetWindowsDirectoryA(windows, MAX_PATH), 0u);
    EXPECT_EQ(CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, files.front().c_str(), -1,
                             (std::string(windows) + "\\Fonts\\arialbd.ttf").c_str(), -1),
              CSTR_EQUAL)
        << files.front();
    const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    size_t onZ = 0;
    for (const std::string& file : files) onZ += file.rfind("Z:", 0) == 0;
    EXPECT_EQ(onZ, wine ? 1u : 0u);
}

}  // namespace
}  // namespace starfell
