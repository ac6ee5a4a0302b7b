// Fetching a file's detached signature and deciding whether the file may be used.
#include "update/signed_files.h"

#include <cstdio>
#include <functional>
#include <utility>

#include "base/diagnostics.h"
#include "base/file_platform.h"
#include "base/text_utils.h"
#include "update/archive_files.h"
#include "update/signature.h"

namespace starfell {

namespace {

// The signature fetched from the same store as the file, through the same
// bounded, retried transfer, with a progress figure of its own (the bar shows
// the file's). At most kMaximumSignatureFileSize bytes are taken: a larger
// answer is no signature, and the transfer stops there.
std::string fetchSignatureText(const std::wstring& path, const std::string& base, const std::string& storePath) {
    const std::wstring signaturePath = path + L".minisig";
    std::string text;
    if (fetchFile(unshownDownloader(), {base}, storePath + ".minisig", signaturePath, {}, minisign::kMaximumSignatureFileSize)) {
        if (std::FILE* file = archive_files::openPlainFileForReading(wideToUtf8(signaturePath))) {
            text.resize(minisign::kMaximumSignatureFileSize);
            text.resize(std::fread(&text[0], 1, text.size(), file));
            std::fclose(file);
        }
    }
    fs::removeFile(signaturePath);
    return text;
}

// A signature check with one key: the built-in one, or a test's.
using Check = std::function<SignatureVerdict(const std::wstring& path, const std::string& signatureText,
                                             const std::string& storePath, const FileDigest* digest,
                                             std::string* trustedComment)>;

bool accept(const Check& check, const ExtraCheck& extraCheck, const std::wstring& path, const std::string& base,
            const std::string& storePath, const FileDigest* digest) {
    const std::string url = base + storePath;
    // Nothing downloaded is nothing to vouch for.
    if (fs::getAttributes(path) == fs::kInvalidAttributes) {
        writeDiagnostic("Signature check failed for: " + url + " (" + describe(SignatureVerdict::UnreadableFile) + ")");
        return false;
    }
    std::string trustedComment;
    if (check) {
        const std::string signatureText = fetchSignatureText(path, base, storePath);
        const SignatureVerdict verdict = check(path, signatureText, storePath, digest, &trustedComment);
        if (verdict != SignatureVerdict::Good) {
            writeDiagnostic("Signature check failed for: " + url + " (" + describe(verdict) + ")");
            return false;
        }
    }
    return !extraCheck || extraCheck(path, trustedComment);
}

}  // namespace

namespace {

AcceptDownload acceptWith(Check check, ExtraCheck extraCheck) {
    if (!check && !extraCheck) return {};
    return [check, extraCheck](const std::wstring& path, const std::string& base, const std::string& storePath,
                               const FileDigest* digest) {
        return accept(check, extraCheck, path, base, storePath, digest);
    };
}

}  // namespace

AcceptDownload signedDownloadCheckWithKey(const minisign::PublicKey* key, ExtraCheck extraCheck) {
    Check check;
    if (key) {
        check = [key = *key](const std::wstring& path, const std::string& text, const std::string& storePath,
                             const FileDigest* digest, std::string* comment) {
            return checkSignatureWithKey(key, path, text, storePath, digest, comment);
        };
    }
    return acceptWith(std::move(check), std::move(extraCheck));
}

AcceptDownload signedDownloadCheck(ExtraCheck extraCheck) {
    // A build with a key line checks with it, even one that does not parse
    // (which then trusts nothing).
    Check check;
    if (updateKeyBuiltIn()) check = checkSignature;
    return acceptWith(std::move(check), std::move(extraCheck));
}

}  // namespace starfell
