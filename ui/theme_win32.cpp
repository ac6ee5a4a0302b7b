// Where the text font lies on Windows: the system's own fonts folder, and under
// Wine the host's Liberation Sans Bold as well.
#include <windows.h>
#include <shlobj.h>

#include "base/system_libraries_win32.h"
#include "ui/theme.h"

namespace starfell {
namespace {

// The fonts folder, with the narrow (ANSI) names the font reader opens; "" when unknown.
std::string systemFontsFolder() {
    char folder[MAX_PATH] = {};
    if (SHGetFolderPathA(nullptr, CSIDL_FONTS, nullptr, SHGFP_TYPE_CURRENT, folder) == S_OK && folder[0])
        return folder;
    const UINT length = GetWindowsDirectoryA(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return std::string();
    return std::string(folder, length) + "\\Fonts";
}

}  // namespace

std::vector<std::string> textFontFiles() {
    std::vector<std::string> files;
    const std::string fonts = systemFontsFolder();
    if (!fonts.empty()) files.push_back(fonts + "\\arialbd.ttf");
    // Wine has no Arial; its Z: drive is the host's file system, where Liberation
    // Sans Bold has the same metrics. On Windows, Z: may be a removable or network
    // drive, which the elevated launcher must not parse fonts from.
    if (runsUnderWine()) files.push_back("Z:\\usr\\share\\fonts\\truetype\\liberation2\\LiberationSans-Bold.ttf");
    return files;
}

}  // namespace starfell
