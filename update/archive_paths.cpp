// Entry name checks for archive extraction.
#include "update/archive_paths.h"

namespace starfell {

namespace {

char upperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM1-9, LPT1-9 and the superscript
// COM¹²³/LPT¹²³ that Windows also treats as ports, also followed by an
// extension ("COM1.dll") or by blanks before it, which Windows ignores as well.
bool isDeviceName(const std::string& component) {
    std::string stem = component.substr(0, component.find('.'));
    while (!stem.empty() && stem.back() == ' ') stem.pop_back();
    for (char& c : stem) c = upperAscii(c);
    if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL" || stem == "CONIN$" || stem == "CONOUT$")
        return true;
    if (stem.compare(0, 3, "COM") != 0 && stem.compare(0, 3, "LPT") != 0) return false;
    const std::string number = stem.substr(3);
    if (number.size() == 1) return number[0] >= '1' && number[0] <= '9';
    return number == "\xC2\xB9" || number == "\xC2\xB2" || number == "\xC2\xB3";  // UTF-8 ¹ ² ³
}

// A name shaped like a Windows 8.3 short name ("VERSIO~1.DAT"): it may be
// another spelling of a longer name already in the folder, one the other
// checks guard, so no such name is written at all.
bool looksLikeShortName(const std::string& component) {
    const size_t dot = component.find('.');
    const std::string stem = component.substr(0, dot);
    if (dot != std::string::npos && (component.size() - dot - 1 > 3 || component.find('.', dot + 1) != std::string::npos))
        return false;
    const size_t tilde = stem.rfind('~');
    if (stem.size() > 8 || tilde == std::string::npos || tilde + 1 == stem.size()) return false;
    for (size_t i = tilde + 1; i < stem.size(); ++i)
        if (stem[i] < '0' || stem[i] > '9') return false;
    return true;
}

bool isSafeComponent(const std::string& component) {
    if (component.empty() || component == "." || component == "..") return false;
    for (unsigned char c : component)
        if (c < 0x20 || c == 0x7F || c == ':') return false;
    const char last = component.back();
    if (last == '.' || last == ' ') return false;
    return !isDeviceName(component) && !looksLikeShortName(component);
}

}  // namespace

bool splitEntryName(const std::string& name, bool isDirectory, std::vector<std::string>& components) {
    components.clear();
    if (name.empty() || name.front() == '/' || name.front() == '\\') return false;
    std::string rest = name;
    if (isDirectory && (rest.back() == '/' || rest.back() == '\\')) rest.pop_back();
    size_t start = 0;
    while (true) {
        const size_t separator = rest.find_first_of("/\\", start);
        std::string component = rest.substr(start, separator == std::string::npos ? std::string::npos : separator - start);
        if (!isSafeComponent(component)) {
            components.clear();
            return false;
        }
        components.push_back(std::move(component));
        if (separator == std::string::npos) return true;
        start = separator + 1;
    }
}

}  // namespace starfell
