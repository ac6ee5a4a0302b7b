// MD5 of a file through OpenSSL's EVP interface, read in 64 KiB pieces.
#include "server/md5.h"

#include <openssl/evp.h>

#include <cstdio>
#include <memory>
#include <vector>

namespace starfell::server {

std::optional<std::string> md5OfFile(const std::string& path) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!file) return std::nullopt;
    std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_md5(), nullptr) != 1) return std::nullopt;

    std::vector<unsigned char> piece(64 * 1024);
    for (;;) {
        size_t got = std::fread(piece.data(), 1, piece.size(), file.get());
        if (got > 0 && EVP_DigestUpdate(context.get(), piece.data(), got) != 1) return std::nullopt;
        if (got < piece.size()) break;
    }
    if (std::ferror(file.get())) return std::nullopt;

    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest, &length) != 1) return std::nullopt;
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text += digits[digest[i] >> 4];
        text += digits[digest[i] & 15];
    }
    return text;
}

}  // namespace starfell::server
