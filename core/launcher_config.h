// The launcher's built-in configuration: brand, server address and web addresses.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace starfell {

struct LauncherConfig {
    std::string BrandName;
    std::string ServerAddress;
    std::uint16_t ServerPort = 9538;
    std::string PatchBaseUrl;   // always "http://" + ServerAddress + "/"
    // Ordered fallback lists, each base ending with '/': patch archives and
    // launcher builds (PatchBaseUrl when none are configured), and repair
    // copies (WebsiteUrl when none are configured).
    std::vector<std::string> PatchBaseUrls;
    std::vector<std::string> RepairBaseUrls;
    std::string WebsiteUrl;
    std::string CommunityUrl;
    std::string ChatUrl;
};

// Builds the configuration from the values chosen at configure time, each
// overridden by the environment variable of the same name when it is set, not
// empty and cannot start a program: an IPv4 address for the server, an http://
// or https:// address for the web addresses, a list of such addresses separated
// by ';' for STARFELL_PATCH_URLS and STARFELL_REPAIR_URLS; any other value is
// ignored with a diagnostic line. `lookup` stands in for getenv so tests can feed their own values.
LauncherConfig makeLauncherConfig(const std::function<const char*(const char*)>& lookup);

// The process-wide configuration, made once on first use from the real environment.
const LauncherConfig& launcherConfig();

}  // namespace starfell
