// Where the text font lies on Windows.
#include "ui/theme.h"

namespace starfell {

std::vector<std::string> textFontFiles() {
    // The bold Arial of the system; under Wine, which has no Arial, the Liberation
    // Sans Bold of the host (same metrics) before falling back to the built-in font.
    return {"C:\\Windows\\Fonts\\arialbd.ttf",
            "Z:\\usr\\share\\fonts\\truetype\\liberation2\\LiberationSans-Bold.ttf"};
}

}  // namespace starfell
