// Checks of minisign signatures on downloaded files against the update key
// built into the launcher (CMake cache variable STARFELL_UPDATE_PUBLIC_KEY).
#pragma once
#include <string>

#include "update/download_digest.h"
#include "update/minisign_format.h"

namespace starfell {

enum class SignatureVerdict {
    Good,
    Missing,         // no signature text at all
    Malformed,       // not a minisign signature file
    OtherKey,        // made with another key (or no key is built in)
    BadSignature,    // the file or the trusted comment is not what was signed
    OtherFile,       // a genuine signature, but its trusted comment names another file
    UnreadableFile,  // the downloaded file itself could not be read
    LegacyTooLarge,  // a legacy ("-l") signature on a file too large to hold in memory
};

// Short reason for the diagnostic line, e.g. "made with another key".
const char* describe(SignatureVerdict verdict);

// Legacy signatures cover the whole file in one piece, so the file is read
// into memory; larger files need minisign's default (prehashed) signatures.
constexpr unsigned long long kMaximumLegacySignedFileSize = 64ull * 1024 * 1024;

// True when the build trusts an update key: then every download must be signed.
bool updateKeyBuiltIn();
// The built-in key's ID as minisign prints it; empty without a key.
std::string updateKeyId();

// Checks `signatureText` (the content of FILE.minisig) over the file at
// `filePath` with the built-in key; `expectedFileName` is the name the trusted
// comment must carry (the file's name on the store, as `minisign -S` wrote it).
// Order: the text parses, the key ID matches, the file's signature holds, the
// trusted comment's signature holds, the comment names the expected file.
// `digest`, when given, is the file's BLAKE2b-512 taken as it was written; a
// prehashed signature is then checked against it without reading the file.
SignatureVerdict checkSignature(const std::wstring& filePath, const std::string& signatureText,
                                const std::string& expectedFileName, const FileDigest* digest = nullptr);

// The same with a given key (tools and benchmarks; the launcher uses the built-in one).
SignatureVerdict checkSignatureWithKey(const minisign::PublicKey& key, const std::wstring& filePath,
                                       const std::string& signatureText, const std::string& expectedFileName,
                                       const FileDigest* digest = nullptr);

// For start-up: writes "Updates are not signed: no public key built in" once
// when the build has no key, and nothing otherwise.
void reportUpdateSigning();

}  // namespace starfell
