// Where the text font lies on Linux: the bold sans-serif face fontconfig picks
// on this machine, whatever the distribution's folders. Arial is asked for
// first: the layout is measured for its widths, and fontconfig maps it to a
// face with the same metrics (Liberation Sans) where one is installed.
#include <fontconfig/fontconfig.h>

#include <cstring>

#include "ui/theme.h"

namespace starfell {

std::vector<std::string> textFontFiles() {
    // fontconfig's best matches, best first, kept to TrueType files (the GUI's
    // font reader takes no other outlines); a few, in case one cannot be read.
    constexpr size_t MaxCandidates = 3;
    std::vector<std::string> files;
    FcConfig* config = FcInitLoadConfigAndFonts();
    if (!config) return files;
    FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>("Arial,sans-serif:bold"));
    if (pattern && FcConfigSubstitute(config, pattern, FcMatchPattern)) {
        FcDefaultSubstitute(pattern);
        FcResult result = FcResultNoMatch;
        if (FcFontSet* sorted = FcFontSort(config, pattern, FcFalse, nullptr, &result)) {
            for (int i = 0; i < sorted->nfont && files.size() < MaxCandidates; ++i) {
                FcChar8* file = nullptr;
                FcChar8* format = nullptr;
                if (FcPatternGetString(sorted->fonts[i], FC_FILE, 0, &file) == FcResultMatch &&
                    FcPatternGetString(sorted->fonts[i], FC_FONTFORMAT, 0, &format) == FcResultMatch &&
                    std::strcmp(reinterpret_cast<const char*>(format), "TrueType") == 0)
                    files.emplace_back(reinterpret_cast<const char*>(file));
            }
            FcFontSetDestroy(sorted);
        }
    }
    if (pattern) FcPatternDestroy(pattern);
    FcConfigDestroy(config);
    return files;
}

}  // namespace starfell
