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
    OtherFile,       // a genuine signature, but its trusted comment names another file or place
    UnreadableFile,  // the downloaded file itself could not be read (or is missing)
};

// Short reason for the diagnostic line, e.g. "made with another key".
const char* describe(SignatureVerdict verdict);

// True when the build trusts an update key: then every download must be signed.
bool updateKeyBuiltIn();
// The built-in key's ID as minisign prints it; empty without a key.
std::string updateKeyId();

// Checks `signatureText` (the content of FILE.minisig) over the file at
// `filePath` with the built-in key; `storePath` is where the file lies below
// the store's root ("patches/1001.zip"), which the trusted comment must name
// (see minisign::commentBindsStorePath), so a file signed for one place is
// never taken for another. Order: the text parses, the key ID matches, the
// file's signature holds, the trusted comment's signature holds, the comment
// names the store path. `digest`, when given, is the file's BLAKE2b-512 taken
// as it was written, so the file need not be read again. On Good,
// `trustedComment` (when given) receives the signed comment.
SignatureVerdict checkSignature(const std::wstring& filePath, const std::string& signatureText,
                                const std::string& storePath, const FileDigest* digest = nullptr,
                                std::string* trustedComment = nullptr);

// The same with a given key (tools and benchmarks; the launcher uses the built-in one).
SignatureVerdict checkSignatureWithKey(const minisign::PublicKey& key, const std::wstring& filePath,
                                       const std::string& signatureText, const std::string& storePath,
                                       const FileDigest* digest = nullptr, std::string* trustedComment = nullptr);

// The built-in key line ("RW..."), empty without a key: a launcher build that
// is to replace this one must carry it, or it would trust another key or none.
std::string updateKeyLine();

// For start-up: writes "Updates are not signed: no public key built in" once
// when the build has no key, and nothing otherwise.
void reportUpdateSigning();

}  // namespace starfell
