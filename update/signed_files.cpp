// Fetching a file's detached signature and deciding whether the file may be used.
#include "update/signed_files.h"

#include <cstdio>
#include <functional>

#include "base/diagnostics.h"
#include "base/file_platform.h"
#include "base/text_utils.h"
#include "update/download.h"
#include "update/signature.h"

namespace starfell {

namespace {

// At most one byte past the largest signature file is read: a larger answer is
// not a signature, and its size alone refuses it.
std::string readSignatureText(const std::wstring& path) {
    std::string text;
    std::FILE* file = fs::openFile(path, "rb");
    if (!file) return text;
    text.resize(minisign::kMaximumSignatureFileSize + 1);
    text.resize(std::fread(&text[0], 1, text.size(), file));
    std::fclose(file);
    return text;
}

// The name the trusted comment must carry: the last part of the URL's path.
std::string fileNameOfUrl(const std::string& url) {
    const std::string path = url.substr(0, url.find_first_of("?#"));
    return path.substr(path.find_last_of('/') + 1);
}

using Check = std::function<SignatureVerdict(const std::wstring&, const std::string&, const std::string&,
                                             const FileDigest*)>;

bool accept(const Check& check, const std::wstring& path, const std::string& url, const FileDigest* digest) {
    if (fs::getAttributes(path) == fs::kInvalidAttributes) return true;

    const std::wstring signaturePath = path + L".minisig";
    downloadFile(downloader, utf8ToWide(url + ".minisig"), signaturePath);
    const std::string signatureText = readSignatureText(signaturePath);
    fs::removeFile(signaturePath);

    SignatureVerdict verdict = SignatureVerdict::Malformed;
    if (signatureText.size() <= minisign::kMaximumSignatureFileSize)
        verdict = check(path, signatureText, fileNameOfUrl(url), digest);
    if (verdict == SignatureVerdict::Good) return true;
    fs::removeFile(path);
    writeDiagnostic("Signature check failed for: " + url + " (" + describe(verdict) + ")");
    return false;
}

}  // namespace

bool acceptSignedFileWithKey(const minisign::PublicKey* key, const std::wstring& path, const std::string& url,
                             const FileDigest* digest) {
    if (!key) return true;
    return accept(
        [key](const std::wstring& file, const std::string& text, const std::string& name, const FileDigest* known) {
            return checkSignatureWithKey(*key, file, text, name, known);
        },
        path, url, digest);
}

AcceptDownload signedDownloadCheck() {
    if (!updateKeyBuiltIn()) return {};
    return [](const std::wstring& path, const std::string& url, const FileDigest* digest) {
        return accept(checkSignature, path, url, digest);
    };
}

}  // namespace starfell
