// libFuzzer target for archive entry names: any name must be judged without a
// fault, and a name judged safe must split into plain components that stay
// inside the destination folder however they are joined again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "update/archive_paths.h"

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

void checkSafe(const std::vector<std::string>& components) {
    check(!components.empty());
    for (const std::string& component : components) {
        check(!component.empty() && component != "." && component != "..");
        for (unsigned char c : component) check(c >= 0x20 && c != '/' && c != '\\' && c != ':' && c != 0x7f);
        check(component.back() != '.' && component.back() != ' ');
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string name(reinterpret_cast<const char*>(data), size);
    for (bool isDirectory : {false, true}) {
        std::vector<std::string> components;
        if (!starfell::splitEntryName(name, isDirectory, components)) continue;
        checkSafe(components);
        // Joined with either separator, the components read back the same.
        for (char separator : {'/', '\\'}) {
            std::string joined;
            for (const std::string& component : components) joined += (joined.empty() ? "" : std::string(1, separator)) + component;
            std::vector<std::string> again;
            check(starfell::splitEntryName(joined, false, again) && again == components);
        }
    }
    return 0;
}
