// Reading the content folder: news.txt, patches/N.zip, patches/Launcher/ and files.txt.
#include "server/content.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "server/md5.h"

namespace starfell::server {

namespace stdfs = std::filesystem;

const char* const FileCheckHeader = "files";

namespace {

bool readWholeFile(const stdfs::path& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream buffer;
    buffer << in.rdbuf();
    text = buffer.str();
    return true;
}

std::vector<std::string> splitLines(std::string text) {
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

bool isPatchNumber(const std::string& stem) {
    if (stem.empty() || stem.size() > 10) return false;
    if (!std::all_of(stem.begin(), stem.end(), [](char c) { return c >= '0' && c <= '9'; })) return false;
    if (stem.size() > 1 && stem[0] == '0') return false;
    return std::stoll(stem) <= INT32_MAX;
}

// A path the launcher may safely join to its game folder.
bool isSafeRelativePath(const std::string& path) {
    if (path.empty() || path[0] == '/' || path[0] == '\\') return false;
    if (path.size() >= 2 && path[1] == ':') return false;  // drive letter
    std::string part;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/' || path[i] == '\\') {
            if (part == ".." || part.empty()) return false;
            part.clear();
        } else {
            part += path[i];
        }
    }
    return true;
}

}  // namespace

std::vector<std::string> ContentFolder::newsLines() const {
    std::string text;
    if (!readWholeFile(stdfs::path(root_) / "news.txt", text)) return {};
    return splitLines(text);
}

std::vector<std::string> ContentFolder::patchNumbers(std::vector<std::string>* skipped) const {
    std::vector<std::string> numbers;
    std::error_code error;
    stdfs::directory_iterator it(stdfs::path(root_) / "patches", error);
    for (; !error && it != stdfs::directory_iterator(); it.increment(error)) {
        const stdfs::path& path = it->path();
        if (path.extension() != ".zip" || !it->is_regular_file(error)) continue;
        std::string stem = path.stem().string();
        if (isPatchNumber(stem)) {
            numbers.push_back(stem);
        } else if (skipped) {
            skipped->push_back("patches/" + path.filename().string());
        }
    }
    std::sort(numbers.begin(), numbers.end(), [](const std::string& a, const std::string& b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    return numbers;
}

std::vector<std::string> ContentFolder::launcherDigests() const {
    std::vector<std::string> digests;
    for (const char* name : {"StarfellLauncher.exe", "StarfellLauncher"}) {
        std::string path = (stdfs::path(root_) / "patches" / "Launcher" / name).string();
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
        CachedDigest seen;
        seen.device = info.st_dev;
        seen.inode = info.st_ino;
        seen.size = info.st_size;
        seen.changedNs = static_cast<long long>(info.st_ctim.tv_sec) * 1000000000LL + info.st_ctim.tv_nsec;
        {
            std::lock_guard<std::mutex> lock(digestsMutex_);
            auto cached = digests_.find(name);
            if (cached != digests_.end() && cached->second.device == seen.device &&
                cached->second.inode == seen.inode && cached->second.size == seen.size &&
                cached->second.changedNs == seen.changedNs) {
                digests.push_back(cached->second.digest);
                continue;
            }
        }
        // Hashed outside the lock: a large build must not hold up other greetings.
        std::optional<std::string> digest = md5OfFile(path);
        if (!digest) continue;
        seen.digest = *digest;
        digests.push_back(*digest);
        std::lock_guard<std::mutex> lock(digestsMutex_);
        digests_[name] = seen;
    }
    return digests;
}

std::string ContentFolder::verdictFor(const std::string& digest) const {
    std::vector<std::string> digests = launcherDigests();
    if (digests.empty()) return "true";
    return std::find(digests.begin(), digests.end(), digest) != digests.end() ? "true" : "false";
}

FileListResult ContentFolder::fileList() const {
    std::string text;
    stdfs::path path = stdfs::path(root_) / "files.txt";
    std::error_code error;
    if (!stdfs::exists(path, error)) return {};
    if (!readWholeFile(path, text)) return {{}, "cannot read " + path.string()};
    FileListResult result = parseFileList(text);
    if (result.error.empty()) result.error = fileListProblem(result.entries);
    if (!result.error.empty()) result.error = path.string() + ": " + result.error;
    return result;
}

FileListResult parseFileList(const std::string& text) {
    FileListResult result;
    std::vector<std::string> lines = splitLines(text);
    for (size_t number = 1; number <= lines.size(); ++number) {
        const std::string& line = lines[number - 1];
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> fields;
        size_t start = 0;
        for (;;) {
            size_t tab = line.find('\t', start);
            fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
            if (tab == std::string::npos) break;
            start = tab + 1;
        }
        std::string where = "line " + std::to_string(number) + ": ";
        if (fields.size() != 3) {
            result.error = where + "expected 3 tab-separated fields (path, download name, digests), found " +
                           std::to_string(fields.size());
            return result;
        }
        if (!isSafeRelativePath(fields[0])) {
            result.error = where + "path \"" + fields[0] + "\" is not a relative path inside the game folder";
            return result;
        }
        if (fields[1].empty() || fields[2].empty()) {
            result.error = where + "empty download name or digests";
            return result;
        }
        result.entries.push_back({fields[0], fields[1], fields[2]});
    }
    return result;
}

std::string formatFileList(const std::vector<FileEntry>& entries) {
    std::string text;
    for (const FileEntry& entry : entries) text += entry.path + "\t" + entry.downloadName + "\t" + entry.digests + "\n";
    return text;
}

std::string fileListProblem(const std::vector<FileEntry>& entries) {
    if (entries.size() > 255) {
        return std::to_string(entries.size()) + " entries; one FileCheck packet holds at most 255";
    }
    for (const FileEntry& entry : entries) {
        for (const std::string* field : {&entry.path, &entry.downloadName, &entry.digests}) {
            if (field->size() > MaxTextSize) {
                return "\"" + field->substr(0, 40) + "...\" is " + std::to_string(field->size()) +
                       " bytes; a field holds at most 255";
            }
        }
    }
    std::optional<Bytes> packet = fileCheckPacket(FileCheckHeader, entries);
    if (!packet) {
        size_t size = 4 + 1 + 1 + std::string(FileCheckHeader).size();
        for (const FileEntry& entry : entries) {
            size += 3 + entry.path.size() + entry.downloadName.size() + entry.digests.size();
        }
        return "the list needs a " + std::to_string(size) + "-byte FileCheck packet; the launcher reads at most " +
               std::to_string(MaxPacketSize);
    }
    return {};
}

FileListResult manifestOf(const std::string& gameDir) {
    FileListResult result;
    std::error_code error;
    if (!stdfs::is_directory(gameDir, error)) {
        result.error = gameDir + " is not a folder";
        return result;
    }
    stdfs::recursive_directory_iterator it(gameDir, error);
    for (; !error && it != stdfs::recursive_directory_iterator(); it.increment(error)) {
        if (!it->is_regular_file(error)) continue;
        std::string relative = stdfs::relative(it->path(), gameDir, error).generic_string();
        if (relative.find_first_of("\t\r\n") != std::string::npos) {
            result.error = "file name with a tab or line break cannot be listed: " + it->path().string();
            return result;
        }
        std::optional<std::string> digest = md5OfFile(it->path().string());
        if (!digest) {
            result.error = "cannot read " + it->path().string();
            return result;
        }
        result.entries.push_back({relative, relative, *digest});
    }
    if (error) {
        result.error = "cannot list " + gameDir + ": " + error.message();
        return result;
    }
    std::sort(result.entries.begin(), result.entries.end(),
              [](const FileEntry& a, const FileEntry& b) { return a.path < b.path; });
    return result;
}

}  // namespace starfell::server
