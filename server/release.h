// release: a whole release in one step. The patch (with deltas), the whole
// copies players may need, the new files.txt lines and the signatures are made
// under temporary names; the patch is proved by applying it with the launcher's
// own code to a copy of the old folder, and only then is everything renamed
// into the store.
#pragma once
#include <string>
#include <vector>

namespace starfell::server {

struct ReleaseRequest {
    std::string from, to, number, root;
    std::string secretKey;  // minisign secret key; empty: sign-store's default
    std::string signStore;  // the scripts/sign-store program
    bool deltas = true;
};

struct ReleaseResult {
    std::string error;                  // empty when the release was published
    std::vector<std::string> published; // store paths renamed into place
    std::size_t deltas = 0, wholeFiles = 0;
};

ReleaseResult makeRelease(const ReleaseRequest& request);

}  // namespace starfell::server
