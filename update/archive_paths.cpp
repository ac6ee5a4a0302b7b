// Entry name checks for archive extraction.
#include "update/archive_paths.h"

namespace starfell {

namespace {

char upperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// CON, PRN, AUX, NUL, COM1-9, LPT1-9, also followed by an extension
// ("COM1.dll") or by blanks before it, which Windows ignores as well.
bool isDeviceName(const std::string& component) {
    std::string stem = component.substr(0, component.find('.'));
    while (!stem.empty() && stem.back() == ' ') stem.pop_back();
    for (char& c : stem) c = upperAscii(c);
    if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL") return true;
    if (stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0))
        return stem[3] >= '1' && stem[3] <= '9';
    return false;
}

bool isSafeComponent(const std::string& component) {
    if (component.empty() || component == "." || component == "..") return false;
    for (unsigned char c : component)
        if (c < 0x20 || c == 0x7F || c == ':') return false;
    const char last = component.back();
    if (last == '.' || last == ' ') return false;
    return !isDeviceName(component);
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
