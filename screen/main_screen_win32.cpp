// Windows: web pages opened through the shell.
#include <windows.h>
#include <shellapi.h>

#include "screen/main_screen.h"

namespace starfell {

void openUrl(const std::string& url) { ShellExecuteA(nullptr, "open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL); }

}  // namespace starfell
