// Helpers shared by the unit tests: scratch folders, files, captured diagnostics.
#pragma once
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "update/download_digest.h"

namespace starfell::test {

// A fresh folder under the system's temporary folder, removed afterwards.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // The folder as the launcher's helpers take it: ending with a separator.
    std::wstring wide() const;
    std::string narrow() const;  // UTF-8

private:
    std::filesystem::path path_;
};

// Conversions between std::filesystem paths and the launcher's wide/UTF-8
// texts that do not depend on the process locale.
std::filesystem::path pathOf(const std::wstring& wide);
std::filesystem::path pathOf(const std::string& utf8);
std::wstring wideOf(const std::filesystem::path& path);

void writeFile(const std::filesystem::path& path, const std::string& bytes);
std::string readFile(const std::filesystem::path& path);
// Deterministic test content: byte i is (7 i + 3) mod 251.
std::string patternBytes(size_t size);
// The sorted names in a folder, to show that nothing else was left there.
std::vector<std::string> namesIn(const std::filesystem::path& folder);
// The lowercase hexadecimal MD5 of `bytes`, as a file list gives it (through
// the launcher's own file MD5, checked against known digests in its own tests).
std::string md5Of(const std::string& bytes);
// True when `digest` is the BLAKE2b-512 of `bytes`, as a download's digest
// taken on the way in must be of the finished file.
bool isDigestOf(const FileDigest* digest, const std::string& bytes);

// FILE.minisig for `bytes` stored at `storePath` below a store's root, made by
// scripts/sign-store (the real minisign) with the password-less test key; the
// Windows build runs it through Wine's start /unix.
std::string minisignSignature(const std::string& storePath, const std::string& bytes);

// A file that opens but whose first read fails with an I/O error: this
// process's own memory read from address 0, which is never mapped (on Windows
// through Wine's drive Z:, the root of the system it runs on).
std::wstring fileFailingToRead();

// Captures what the launcher writes to its diagnostic streams.
class CapturedDiagnostics {
public:
    CapturedDiagnostics();
    ~CapturedDiagnostics();
    // Everything written so far, wide lines converted to UTF-8.
    std::string text() const;

private:
    std::ostringstream narrow_;
    std::wostringstream wide_;
    std::streambuf* oldNarrow_;
    std::wstreambuf* oldWide_;
};

}  // namespace starfell::test
