// The release command: stage, sign, prove, publish.
#include "server/release.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "server/content.h"
#include "server/patch_maker.h"
#include "update/patches.h"

namespace starfell::server {

namespace stdfs = std::filesystem;

namespace {

// The first difference between the folder `applied` and `wanted` (every file
// of `wanted` but its version.dat must be in `applied` with the same bytes), or empty.
std::string firstDifference(const stdfs::path& applied, const stdfs::path& wanted) {
    std::error_code code;
    for (stdfs::recursive_directory_iterator it(wanted, code), end; !code && it != end; it.increment(code)) {
        if (!it->is_regular_file(code)) continue;
        const stdfs::path relative = stdfs::relative(it->path(), wanted, code);
        if (relative == "version.dat") continue;
        if (!sameBytes(applied / relative, it->path())) return relative.generic_string();
    }
    return code ? "cannot list " + wanted.string() : std::string();
}

// files.txt with the digests of the files the patch carries in their lines;
// the lines of other files, comments and the list's size stay as they were
// (the operator chooses which files are checked).
std::string updatedFileList(const std::string& old, const std::map<std::string, std::string>& digests) {
    std::istringstream lines(old);
    std::string text, line;
    while (std::getline(lines, line)) {
        const std::size_t path = line.find('\t'), name = line.find('\t', path == std::string::npos ? path : path + 1);
        if (!line.empty() && line[0] != '#' && name != std::string::npos && digests.count(line.substr(0, path)))
            line = line.substr(0, name + 1) + digests.at(line.substr(0, path));
        text += line + "\n";
    }
    return text;
}

int run(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool copyFile(const stdfs::path& from, const stdfs::path& to, std::string& error) {
    std::error_code code;
    stdfs::create_directories(to.parent_path(), code);
    if (!stdfs::copy_file(from, to, stdfs::copy_options::overwrite_existing, code)) {
        error = "cannot copy " + from.string() + " to " + to.string() + ": " + code.message();
        return false;
    }
    return true;
}

}  // namespace

ReleaseResult makeRelease(const ReleaseRequest& request) {
    ReleaseResult result;
    std::error_code code;
    const stdfs::path root(request.root);
    if (!stdfs::is_directory(root, code)) {
        result.error = request.root + " is not a folder";
        return result;
    }
    const std::vector<std::string> published = ContentFolder(request.root).patchNumbers();
    if (!published.empty() && request.number.size() <= 9 && !request.number.empty() &&
        std::all_of(request.number.begin(), request.number.end(), ::isdigit) &&
        std::stoll(request.number) <= std::stoll(published.back())) {
        result.error = "patch number " + request.number + " is not above the newest patch " + published.back();
        return result;
    }

    // Everything is made in a staging folder laid out like the store, on the
    // same disk, so publishing is renames only.
    const stdfs::path staging = root / (".release-" + request.number);
    stdfs::remove_all(staging, code);
    auto fail = [&](const std::string& error) {
        stdfs::remove_all(staging, code);
        result.error = error;
        return result;
    };
    stdfs::create_directories(staging / "patches", code);
    PatchRequest patch{request.from, request.to, request.number, staging.string(), request.deltas};
    patch.damageDeltas = std::getenv("STARFELL_RELEASE_DAMAGE_DELTAS") != nullptr;  // test hook: a failed proof
    const PatchResult made = makePatch(patch);
    if (!made.error.empty()) return fail(made.error);
    result.deltas = made.deltas.size();

    // Whole copies of the files players may need whole: the files.txt entries
    // the patch changes (their repair copies, under their download names) and
    // the files it carries as deltas (fetched by path when the delta cannot apply).
    std::string oldList;
    if (std::ifstream in{root / "files.txt", std::ios::binary}) oldList.assign(std::istreambuf_iterator<char>(in), {});
    FileListResult listed = parseFileList(oldList);
    if (!listed.error.empty()) return fail("files.txt: " + listed.error);
    std::map<std::string, std::string> digests;
    for (const FileEntry& entry : made.entries) digests[entry.path] = entry.digests;
    std::map<std::string, std::string> copies;  // store path -> game file
    for (const FileEntry& entry : listed.entries)
        if (digests.count(entry.path)) copies["patches/Launcher/" + entry.downloadName] = entry.path;
    for (const std::string& path : made.deltas) copies["patches/Launcher/" + path] = path;
    std::vector<std::string> stored;
    for (const auto& [storePath, path] : copies) {
        std::string error;
        if (!copyFile(stdfs::path(request.to) / path, staging / storePath, error)) return fail(error);
        stored.push_back(storePath);
    }
    result.wholeFiles = stored.size();
    stored.push_back("patches/" + request.number + ".zip");
    const std::string fileList = updatedFileList(oldList, digests);
    FileListResult list = parseFileList(fileList);
    if (list.error.empty()) list.error = fileListProblem(list.entries);
    if (!list.error.empty()) return fail("the new files.txt cannot be sent: " + list.error + "; nothing published");
    if (fileList != oldList) {
        std::ofstream(staging / "files.txt", std::ios::binary) << fileList;
        stored.push_back("files.txt");
    }

    // Proof: the launcher's own extraction over a copy of the old folder must
    // give the new folder byte for byte. Deltas must apply as they are: a
    // fallback to a whole file would hide a broken one.
    const stdfs::path proof = staging / ".proof";
    stdfs::copy(request.from, proof, stdfs::copy_options::recursive, code);
    if (code) return fail("cannot copy " + request.from + " for the proof: " + code.message());
    const bool applied = extractArchive((staging / "patches" / (request.number + ".zip")).string(),
                                        proof.string() + "/", true,
                                        [](const std::string&, const std::string&) { return false; });
    const std::string difference = applied ? firstDifference(proof, request.to) : std::string();
    if (!applied || !difference.empty())
        return fail("the patch does not turn " + request.from + " into " + request.to +
                    (applied ? " (" + difference + " differs)" : " (it does not apply)") + "; nothing published");
    stdfs::remove_all(proof, code);

    // Signatures, by the operator's key (one password prompt for all).
    std::vector<std::string> sign = {request.signStore};
    if (!request.secretKey.empty()) sign.insert(sign.end(), {"-s", request.secretKey});
    sign.push_back(staging.string());
    for (const std::string& path : stored) sign.push_back((staging / path).string());
    if (run(sign) != 0) return fail("signing failed (" + request.signStore + "); nothing published");

    // Publish: whole copies first, the archive next, files.txt last; each
    // file's signature before the file, so whatever a launcher sees is whole.
    for (const std::string& path : stored) {
        for (const std::string& name : {path + ".minisig", path}) {
            stdfs::create_directories((root / name).parent_path(), code);
            stdfs::rename(staging / name, root / name, code);
            if (code) {
                result.error = "cannot move " + name + " into " + request.root + ": " + code.message();
                return result;
            }
        }
        result.published.push_back(path);
    }
    stdfs::remove_all(staging, code);
    return result;
}

}  // namespace starfell::server
