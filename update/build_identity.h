// A launcher build's identity as its file carries it: the build number stamped
// into every build as text, and the update key line it trusts.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

namespace starfell {

// This build's number. It is read from the stamp in the program's own bytes
// at run time, so a copy whose stamp was changed really is another build.
std::uint32_t ownBuildNumber();

struct BuildFacts {
    std::optional<std::uint32_t> number;  // the first stamp in the file, if any
    bool carriesKeyLine = false;           // `keyLine` occurs in the file
};

// Reads the file at `path` once for a build stamp ("starfell-build:" and ten
// digits, as scripts/sign-store reads it too) and for `keyLine` (when not
// empty). Empty when the file cannot be read.
std::optional<BuildFacts> readBuildFacts(const std::wstring& path, const std::string& keyLine);

}  // namespace starfell
