// Built-in configuration with environment overrides (so tests can run side by
// side on their own loopback addresses).
#include "core/launcher_config.h"

#include <cstdlib>

#include "build_config.h"

namespace starfell {

LauncherConfig makeLauncherConfig(const std::function<const char*(const char*)>& lookup) {
    auto setting = [&](const char* name, const char* fallback) {
        const char* value = lookup(name);
        return std::string(value && *value ? value : fallback);
    };
    LauncherConfig config;
    config.BrandName = "Starfell";
    config.ServerAddress = setting("STARFELL_SERVER_ADDRESS", STARFELL_DEFAULT_SERVER_ADDRESS);
    config.ServerPort = 9538;
    config.PatchBaseUrl = "http://" + config.ServerAddress + "/";
    config.WebsiteUrl = setting("STARFELL_WEBSITE_URL", STARFELL_DEFAULT_WEBSITE_URL);
    config.CommunityUrl = setting("STARFELL_COMMUNITY_URL", STARFELL_DEFAULT_COMMUNITY_URL);
    config.ChatUrl = setting("STARFELL_CHAT_URL", STARFELL_DEFAULT_CHAT_URL);
    return config;
}

const LauncherConfig& launcherConfig() {
    // Never destroyed: exit() on one thread must not pull it from under another.
    static const LauncherConfig& config =
        *new LauncherConfig(makeLauncherConfig([](const char* name) { return std::getenv(name); }));
    return config;
}

}  // namespace starfell
