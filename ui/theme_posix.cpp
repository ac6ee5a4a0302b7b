// Where the text font lies on Linux.
#include "ui/theme.h"

namespace starfell {

std::vector<std::string> textFontFiles() {
    return {"/usr/share/fonts/truetype/liberation2/LiberationSans-Bold.ttf"};
}

}  // namespace starfell
