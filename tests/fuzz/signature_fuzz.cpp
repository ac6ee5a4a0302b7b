// libFuzzer target for minisign signature files: any text must be judged
// without a fault, and a text that is accepted must be exactly the canonical
// form of what was read from it (nothing skipped, nothing guessed).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "update/minisign_format.h"

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

std::string encodeBase64(const std::uint8_t* bytes, std::size_t size) {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (std::size_t i = 0; i < size; i += 3) {
        const std::uint32_t a = bytes[i], b = i + 1 < size ? bytes[i + 1] : 0, c = i + 2 < size ? bytes[i + 2] : 0;
        const std::uint32_t bits = a << 16 | b << 8 | c;
        text += kAlphabet[bits >> 18 & 63];
        text += kAlphabet[bits >> 12 & 63];
        text += i + 1 < size ? kAlphabet[bits >> 6 & 63] : '=';
        text += i + 2 < size ? kAlphabet[bits & 63] : '=';
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    namespace ms = starfell::minisign;

    ms::Signature signature;
    if (ms::parseSignature(text, signature)) {
        check(size <= ms::kMaximumSignatureFileSize);
        std::uint8_t signatureBytes[2 + 8 + 64] = {'E', 'D'};
        for (std::size_t i = 0; i < 8; ++i) signatureBytes[2 + i] = signature.keyId[i];
        for (std::size_t i = 0; i < 64; ++i) signatureBytes[10 + i] = signature.signature[i];
        // Rebuild everything after the untrusted comment and compare byte for byte.
        const std::size_t firstLineEnd = text.find('\n');
        check(firstLineEnd != std::string_view::npos);
        check(text.substr(0, 19) == "untrusted comment: ");
        std::string rest = encodeBase64(signatureBytes, sizeof(signatureBytes)) + "\ntrusted comment: " +
                           signature.trustedComment + "\n" +
                           encodeBase64(signature.globalSignature.data(), signature.globalSignature.size());
        const std::string_view after = text.substr(firstLineEnd + 1);
        check(after == rest || after == rest + "\n");
    }

    ms::PublicKey key;
    if (ms::parsePublicKey(text, key)) {
        std::uint8_t keyBytes[2 + 8 + 32] = {'E', 'd'};
        for (std::size_t i = 0; i < 8; ++i) keyBytes[2 + i] = key.keyId[i];
        for (std::size_t i = 0; i < 32; ++i) keyBytes[10 + i] = key.key[i];
        check(text == encodeBase64(keyBytes, sizeof(keyBytes)));
        check(!ms::keyIdText(key.keyId).empty());
    }

    // The place check on the same text: a store path it accepts appears as a
    // whole path field, and its last part as a whole file field.
    const std::size_t split = text.find('\n');
    if (split != std::string_view::npos) {
        const std::string_view comment = text.substr(0, split), path = text.substr(split + 1);
        if (ms::commentBindsStorePath(comment, path)) {
            const std::string padded = "\t" + std::string(comment) + "\t";
            check(padded.find("\tpath:" + std::string(path) + "\t") != std::string::npos);
            const std::string name(path.substr(path.find_last_of('/') + 1));
            check(padded.find("\tfile:" + name + "\t") != std::string::npos);
        }
    }
    return 0;
}
