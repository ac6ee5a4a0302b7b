// Signature checks with libsodium: Ed25519 over the file's BLAKE2b-512 digest,
// then over signature + trusted comment.
#include "update/signature.h"

#include <sodium.h>

#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

#include "base/diagnostics.h"
#include "base/text_utils.h"
#include "build_config.h"
#include "update/archive_files.h"

namespace starfell {

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

constexpr std::size_t kReadPiece = 64 * 1024;

// The key line as text in the program: a launcher build that is to replace
// this one is searched for it. volatile, so the compiler keeps the bytes in
// one piece instead of building the text from immediate values.
extern const volatile char kUpdateKeyLine[];
const volatile char kUpdateKeyLine[] = STARFELL_UPDATE_PUBLIC_KEY;

std::string keyLineText() {
    std::string line;
    for (std::size_t i = 0; kUpdateKeyLine[i] != '\0'; ++i) line.push_back(kUpdateKeyLine[i]);
    return line;
}

// The key is parsed once; a key line that does not parse (configure refuses
// one, so only a hand-edited build could have it) trusts nothing.
struct BuiltInKey {
    bool present = false;
    bool valid = false;
    minisign::PublicKey key;
};

const BuiltInKey& builtInKey() {
    static const BuiltInKey parsed = [] {
        BuiltInKey result;
        const std::string line = keyLineText();
        result.present = !line.empty();
        result.valid = result.present && minisign::parsePublicKey(line, result.key);
        return result;
    }();
    return parsed;
}

// BLAKE2b-512 of the whole file, streamed; false on a read error.
bool hashFile(std::FILE* file, FileDigest& digest) {
    // The state asks for 64-byte alignment; the aligned `new` of C++17 honours it.
    auto state = std::make_unique<crypto_generichash_state>();
    if (crypto_generichash_init(state.get(), nullptr, 0, digest.size()) != 0) return false;
    std::vector<unsigned char> piece(kReadPiece);
    std::size_t count;
    while ((count = std::fread(piece.data(), 1, piece.size(), file)) > 0) {
        crypto_generichash_update(state.get(), piece.data(), count);
    }
    if (std::ferror(file)) return false;
    return crypto_generichash_final(state.get(), digest.data(), digest.size()) == 0;
}

SignatureVerdict checkFileSignature(const minisign::Signature& signature, const minisign::PublicKey& key,
                                    const std::wstring& filePath, const FileDigest* knownDigest) {
    FileDigest digest;
    if (knownDigest) {
        digest = *knownDigest;
    } else {
        FileHandle file(archive_files::openForReading(wideToUtf8(filePath)));
        if (!file || !hashFile(file.get(), digest)) return SignatureVerdict::UnreadableFile;
    }
    return crypto_sign_verify_detached(signature.signature.data(), digest.data(), digest.size(), key.key.data()) == 0
               ? SignatureVerdict::Good
               : SignatureVerdict::BadSignature;
}

}  // namespace

const char* describe(SignatureVerdict verdict) {
    switch (verdict) {
        case SignatureVerdict::Good: return "good signature";
        case SignatureVerdict::Missing: return "no signature";
        case SignatureVerdict::Malformed: return "malformed signature";
        case SignatureVerdict::OtherKey: return "signed with another key";
        case SignatureVerdict::BadSignature: return "bad signature";
        case SignatureVerdict::OtherFile: return "signature names another file";
        case SignatureVerdict::UnreadableFile: return "downloaded file unreadable";
    }
    return "unknown verdict";
}

bool updateKeyBuiltIn() { return builtInKey().present; }

std::string updateKeyLine() {
    const BuiltInKey& built = builtInKey();
    return built.valid ? keyLineText() : std::string();
}

std::string updateKeyId() {
    const BuiltInKey& built = builtInKey();
    return built.valid ? minisign::keyIdText(built.key.keyId) : std::string();
}

SignatureVerdict checkSignature(const std::wstring& filePath, const std::string& signatureText,
                                const std::string& storePath, const FileDigest* digest, std::string* trustedComment) {
    const BuiltInKey& built = builtInKey();
    if (!built.valid) {
        // Still say what is wrong with the text itself before blaming the key.
        minisign::Signature ignored;
        if (signatureText.empty()) return SignatureVerdict::Missing;
        if (!minisign::parseSignature(signatureText, ignored)) return SignatureVerdict::Malformed;
        return SignatureVerdict::OtherKey;
    }
    return checkSignatureWithKey(built.key, filePath, signatureText, storePath, digest, trustedComment);
}

SignatureVerdict checkSignatureWithKey(const minisign::PublicKey& key, const std::wstring& filePath,
                                       const std::string& signatureText, const std::string& storePath,
                                       const FileDigest* digest, std::string* trustedComment) {
    if (signatureText.empty()) return SignatureVerdict::Missing;
    minisign::Signature signature;
    if (!minisign::parseSignature(signatureText, signature)) return SignatureVerdict::Malformed;
    if (signature.keyId != key.keyId) return SignatureVerdict::OtherKey;
    if (sodium_init() < 0) return SignatureVerdict::BadSignature;  // no verification without the library

    const SignatureVerdict fileVerdict = checkFileSignature(signature, key, filePath, digest);
    if (fileVerdict != SignatureVerdict::Good) return fileVerdict;

    // The trusted comment is signed together with the file's signature.
    std::vector<unsigned char> signedComment(signature.signature.begin(), signature.signature.end());
    signedComment.insert(signedComment.end(), signature.trustedComment.begin(), signature.trustedComment.end());
    if (crypto_sign_verify_detached(signature.globalSignature.data(), signedComment.data(), signedComment.size(),
                                    key.key.data()) != 0) {
        return SignatureVerdict::BadSignature;
    }
    if (!minisign::commentBindsStorePath(signature.trustedComment, storePath)) return SignatureVerdict::OtherFile;
    if (trustedComment) *trustedComment = signature.trustedComment;
    return SignatureVerdict::Good;
}

void reportUpdateSigning() {
    static std::once_flag reported;
    std::call_once(reported, [] {
        if (!updateKeyBuiltIn()) writeDiagnostic(std::string("Updates are not signed: no public key built in"));
    });
}

}  // namespace starfell
