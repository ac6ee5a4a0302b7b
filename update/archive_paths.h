// Checks archive entry names before anything is written, so that no entry can
// land outside the folder it is extracted into.
#pragma once
#include <string>
#include <vector>

namespace starfell {

// Splits `name` at both `\` and `/` into the components of a path relative to
// the destination folder. False (unsafe) for: an empty name, a leading
// separator, any `:` (drive letters, alternate streams), an empty, "." or ".."
// component, control characters, Windows device names (CON, PRN, AUX, NUL,
// CONIN$, CONOUT$, COM1-9, LPT1-9, COM and LPT with a superscript 1-3, with or
// without an extension), Windows short names ("VERSIO~1.DAT") and components
// ending in a dot or a space. Device names are refused on every platform because the
// archives are shared by both builds. A directory entry's name ends with a
// separator; that one trailing empty component is allowed and dropped.
bool splitEntryName(const std::string& name, bool isDirectory, std::vector<std::string>& components);

}  // namespace starfell
