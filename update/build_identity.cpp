// The build stamp and the search for it (and for a key line) in a build's file.
#include "update/build_identity.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "base/text_utils.h"
#include "build_config.h"
#include "update/archive_files.h"

namespace starfell {

// volatile, so the number is read from the program's bytes, never folded
// into the code. The prefix text exists once in the file: the search below
// builds its needle from this array.
extern const volatile char kBuildStamp[];
const volatile char kBuildStamp[] = "starfell-build:" STARFELL_BUILD_NUMBER_TEXT ";";
// The previous key's line, carried (not trusted) by a build made to rotate the
// key, so launchers that trust the previous key still take this build.
extern const volatile char kPreviousKeyLine[];
const volatile char kPreviousKeyLine[] = STARFELL_PREVIOUS_UPDATE_PUBLIC_KEY;

namespace {

constexpr std::size_t kPrefixLength = 15;  // "starfell-build:"
constexpr std::size_t kDigits = 10;
constexpr std::size_t kReadPiece = 1024 * 1024;

std::string stampText() {
    std::string text;
    for (std::size_t i = 0; kBuildStamp[i] != '\0'; ++i) text.push_back(kBuildStamp[i]);
    return text;
}

// The number of the ten digits at `digits`, when all ten are digits and it fits 32 bits.
std::optional<std::uint32_t> stampNumber(const char* digits) {
    std::uint64_t number = 0;
    for (std::size_t i = 0; i < kDigits; ++i) {
        if (digits[i] < '0' || digits[i] > '9') return std::nullopt;
        number = number * 10 + static_cast<std::uint64_t>(digits[i] - '0');
    }
    if (number > 0xffffffffu) return std::nullopt;
    return static_cast<std::uint32_t>(number);
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

std::uint32_t ownBuildNumber() {
    static_cast<void>(kPreviousKeyLine[0]);  // keeps the line in the program
    const std::string stamp = stampText();
    return stampNumber(stamp.c_str() + kPrefixLength).value_or(0);
}

std::optional<BuildFacts> readBuildFacts(const std::wstring& path, const std::string& keyLine) {
    std::unique_ptr<std::FILE, FileCloser> file(archive_files::openForReading(wideToUtf8(path)));
    if (!file) return std::nullopt;
    const std::string prefix = stampText().substr(0, kPrefixLength);
    // Each piece is searched together with the end of the one before, so a
    // text that straddles two pieces is found too.
    const std::size_t overlap = std::max(kPrefixLength + kDigits, keyLine.size());
    BuildFacts facts;
    std::vector<char> window;
    std::vector<char> piece(kReadPiece);
    std::size_t count;
    while ((count = std::fread(piece.data(), 1, piece.size(), file.get())) > 0) {
        window.insert(window.end(), piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(count));
        if (!facts.number) {
            for (auto at = std::search(window.begin(), window.end(), prefix.begin(), prefix.end());
                 at != window.end(); at = std::search(at + 1, window.end(), prefix.begin(), prefix.end())) {
                if (static_cast<std::size_t>(window.end() - at) < kPrefixLength + kDigits) break;
                facts.number = stampNumber(&*at + kPrefixLength);
                if (facts.number) break;
            }
        }
        if (!keyLine.empty() && !facts.carriesKeyLine)
            facts.carriesKeyLine = std::search(window.begin(), window.end(), keyLine.begin(), keyLine.end()) != window.end();
        if (window.size() > overlap) window.erase(window.begin(), window.end() - static_cast<std::ptrdiff_t>(overlap));
    }
    if (std::ferror(file.get())) return std::nullopt;
    return facts;
}

}  // namespace starfell
