// POSIX: MD5 through OpenSSL's EVP interface, fed 1024-byte pieces.
#include <openssl/evp.h>
#include <sys/stat.h>

#include <cstdio>
#include <memory>

#include "base/text_utils.h"
#include "integrity/file_md5.h"

namespace starfell {

namespace {
struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
struct ContextFreer {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
}  // namespace

std::string fileMd5(const std::wstring& path) {
    const std::string systemPath = wideToUtf8(path);
    struct stat info {};
    if (stat(systemPath.c_str(), &info) != 0) return "None";
    if (S_ISDIR(info.st_mode)) return "None";  // exists, but is no file to read

    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(systemPath.c_str(), "rbe"));
    if (!file) return "None";
    // A larger stdio buffer means fewer system calls; the hash still gets 1 KiB pieces.
    std::setvbuf(file.get(), nullptr, _IOFBF, 1 << 16);

    std::unique_ptr<EVP_MD_CTX, ContextFreer> context(EVP_MD_CTX_new());
    if (!context || EVP_DigestInit_ex(context.get(), EVP_md5(), nullptr) != 1) return "None";

    unsigned char buffer[1024];
    for (;;) {
        const size_t count = std::fread(buffer, 1, sizeof(buffer), file.get());
        if (count == 0) break;
        if (EVP_DigestUpdate(context.get(), buffer, count) != 1) return "None";
    }
    // A read that failed is not the end of the file: a digest of part of it
    // would name content the file does not have.
    if (std::ferror(file.get())) return "None";

    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest, &length) != 1 || length != 16) return "None";
    return digestToHex(digest, length);
}

}  // namespace starfell
