// Built-in configuration, with environment overrides in builds for tests (so
// they can run side by side on their own loopback addresses).
#include "core/launcher_config.h"

#include <algorithm>
#include <cstdlib>

#include "base/diagnostics.h"
#include "build_config.h"

namespace starfell {

namespace {

// Dotted-quad IPv4 digits only: a host name would let the environment pick
// whoever answers a name lookup.
bool isIpv4Address(const std::string& text) {
    int parts = 0;
    std::size_t at = 0;
    while (true) {
        std::size_t end = at;
        while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
        const std::size_t digits = end - at;
        if (digits == 0 || digits > 3 || (digits > 1 && text[at] == '0')) return false;
        if (std::stoi(text.substr(at, digits)) > 255) return false;
        ++parts;
        if (end == text.size()) return parts == 4;
        if (text[end] != '.' || parts == 4) return false;
        at = end + 1;
    }
}

// Web addresses are opened with the system's "open" action, which would start
// a program for a file path or another scheme: only http(s) pass, and no
// spaces or control characters that could split the address.
bool isWebAddress(const std::string& text) {
    const bool scheme = text.rfind("http://", 0) == 0 || text.rfind("https://", 0) == 0;
    if (!scheme) return false;
    for (unsigned char c : text) {
        if (c <= 0x20 || c == 0x7f || c == '"') return false;
    }
    return true;
}

// Splits a ';'-separated list (a CMake list) of web addresses; an empty
// result when any item is not one, so a typo never drops a mirror unnoticed.
std::vector<std::string> webAddressList(const std::string& text) {
    std::vector<std::string> list;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = std::min(text.find(';', start), text.size());
        std::string item = text.substr(start, end - start);
        start = end + 1;
        if (item.empty()) continue;
        if (!isWebAddress(item)) return {};
        if (item.back() != '/') item += '/';
        list.push_back(item);
    }
    return list;
}

bool isWebAddressList(const std::string& text) { return !webAddressList(text).empty(); }

}  // namespace

LauncherConfig makeLauncherConfig(const std::function<const char*(const char*)>& lookup) {
    // An environment value replaces the built-in one only when it is of the
    // expected kind; anything else is ignored with a diagnostic line.
    auto setting = [&](const char* name, const char* fallback, bool (*acceptable)(const std::string&),
                       const char* expected) {
        const char* value = lookup(name);
        if (!value || !*value) return std::string(fallback);
        if (!acceptable(value)) {
            writeDiagnostic(std::string("Ignored ") + name + " from the environment: not " + expected);
            return std::string(fallback);
        }
        return std::string(value);
    };
    const char* kIpv4 = "an IPv4 address";
    const char* kWeb = "an http:// or https:// address";
    LauncherConfig config;
    config.BrandName = "Starfell";
    config.ServerAddress = setting("STARFELL_SERVER_ADDRESS", STARFELL_DEFAULT_SERVER_ADDRESS, isIpv4Address, kIpv4);
    config.ServerPort = 9538;
    config.PatchBaseUrl = "http://" + config.ServerAddress + "/";
    config.WebsiteUrl = setting("STARFELL_WEBSITE_URL", STARFELL_DEFAULT_WEBSITE_URL, isWebAddress, kWeb);
    config.CommunityUrl = setting("STARFELL_COMMUNITY_URL", STARFELL_DEFAULT_COMMUNITY_URL, isWebAddress, kWeb);
    config.ChatUrl = setting("STARFELL_CHAT_URL", STARFELL_DEFAULT_CHAT_URL, isWebAddress, kWeb);
    const char* kWebList = "a list of http:// or https:// addresses separated by ';'";
    config.PatchBaseUrls = webAddressList(setting("STARFELL_PATCH_URLS", STARFELL_DEFAULT_PATCH_URLS, isWebAddressList, kWebList));
    if (config.PatchBaseUrls.empty()) config.PatchBaseUrls = {config.PatchBaseUrl};
    config.RepairBaseUrls = webAddressList(setting("STARFELL_REPAIR_URLS", STARFELL_DEFAULT_REPAIR_URLS, isWebAddressList, kWebList));
    if (config.RepairBaseUrls.empty()) config.RepairBaseUrls = {config.WebsiteUrl};
    return config;
}

const LauncherConfig& launcherConfig() {
    // Never destroyed: exit() on one thread must not pull it from under another.
    // An operator's build runs elevated: its addresses are the built-in ones
    // only, or a program without elevation could steer it through the
    // user's environment. Builds for tests and the demo take overrides.
    static const LauncherConfig& config = *new LauncherConfig(makeLauncherConfig(
        [](const char* name) { return STARFELL_ENVIRONMENT_OVERRIDES ? std::getenv(name) : nullptr; }));
    return config;
}

}  // namespace starfell
