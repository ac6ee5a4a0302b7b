// The installed patch number, kept in "version.dat" next to the launcher.
#pragma once
#include <cstdint>
#include <string>

namespace starfell {

// First line of "version.dat" in the launcher's folder, without its line end.
// A missing file is created holding exactly "1000" and "1000" is returned.
std::string readInstalledVersion();
// The same for the "version.dat" in `folder` (ending with its separator).
std::string readInstalledVersionIn(const std::string& folder);
// The version the title shows before the patch list arrives: the same line,
// or "1000" when the file is missing, which is left to the patch step to create.
std::string peekInstalledVersion();

// Reads a version or patch number the way a standard string-to-int
// conversion does: leading blanks and a sign allowed, trailing characters
// ignored, the value must fit 32 bits. False when no number can be read.
bool parseVersionNumber(const std::string& text, std::int32_t& number);

}  // namespace starfell
