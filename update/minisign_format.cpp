// minisign's signature and public key texts, read strictly: a signature file
// comes from an untrusted store, so every byte of it is accounted for.
#include "update/minisign_format.h"

#include <cstring>

namespace starfell::minisign {

namespace {

constexpr std::string_view kUntrustedPrefix = "untrusted comment: ";
constexpr std::string_view kTrustedPrefix = "trusted comment: ";

int base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// Comments are single lines of text: tab is the field separator of trusted
// comments, every other control character (CR included) is refused.
bool isCommentText(std::string_view text) {
    for (unsigned char c : text) {
        if ((c < 0x20 && c != '\t') || c == 0x7f) return false;
    }
    return true;
}

// Splits off the next line (without its "\n"); false when no "\n" ends it.
bool takeLine(std::string_view& rest, std::string_view& line) {
    const std::size_t end = rest.find('\n');
    if (end == std::string_view::npos) return false;
    line = rest.substr(0, end);
    rest.remove_prefix(end + 1);
    return true;
}

bool takePrefixed(std::string_view line, std::string_view prefix, std::string_view& value) {
    if (line.substr(0, prefix.size()) != prefix) return false;
    value = line.substr(prefix.size());
    return isCommentText(value);
}

KeyId keyIdAt(const std::uint8_t* bytes) {
    KeyId id;
    std::memcpy(id.data(), bytes, id.size());
    return id;
}

}  // namespace

bool decodeBase64(std::string_view text, std::uint8_t* out, std::size_t size) {
    if (text.size() != (size + 2) / 3 * 4) return false;
    const std::size_t padding = (3 - size % 3) % 3;
    std::size_t written = 0;
    for (std::size_t group = 0; group < text.size(); group += 4) {
        const bool last = group + 4 == text.size();
        std::uint32_t bits = 0;
        for (std::size_t i = 0; i < 4; ++i) {
            const char c = text[group + i];
            const bool padPosition = last && i >= 4 - padding;
            if (padPosition) {
                if (c != '=') return false;
                bits <<= 6;
                continue;
            }
            const int value = base64Value(c);
            if (value < 0) return false;
            bits = bits << 6 | static_cast<std::uint32_t>(value);
        }
        const std::size_t bytes = last ? 3 - padding : 3;
        // Canonical form only: the bits a padded group leaves over must be zero.
        if (bytes < 3 && (bits & ((1u << (8 * (3 - bytes))) - 1)) != 0) return false;
        for (std::size_t i = 0; i < bytes; ++i) out[written++] = static_cast<std::uint8_t>(bits >> (16 - 8 * i));
    }
    return written == size;
}

bool parseSignature(std::string_view text, Signature& signature) {
    if (text.size() > kMaximumSignatureFileSize) return false;
    std::string_view rest = text, untrustedLine, signatureLine, trustedLine, globalLine, value;
    if (!takeLine(rest, untrustedLine) || !takeLine(rest, signatureLine) || !takeLine(rest, trustedLine)) return false;
    // The last line may end the text or be followed by exactly one "\n".
    if (!takeLine(rest, globalLine)) {
        globalLine = rest;
        rest = {};
    }
    if (!rest.empty()) return false;

    if (!takePrefixed(untrustedLine, kUntrustedPrefix, value)) return false;

    std::uint8_t signatureBytes[2 + 8 + 64];
    if (!decodeBase64(signatureLine, signatureBytes, sizeof(signatureBytes))) return false;
    if (signatureBytes[0] != 'E' || signatureBytes[1] != 'D') return false;
    signature.keyId = keyIdAt(signatureBytes + 2);
    std::memcpy(signature.signature.data(), signatureBytes + 10, signature.signature.size());

    if (!takePrefixed(trustedLine, kTrustedPrefix, value)) return false;
    signature.trustedComment.assign(value.data(), value.size());

    return decodeBase64(globalLine, signature.globalSignature.data(), signature.globalSignature.size());
}

bool parsePublicKey(std::string_view keyLine, PublicKey& key) {
    std::uint8_t bytes[2 + 8 + 32];
    if (!decodeBase64(keyLine, bytes, sizeof(bytes))) return false;
    if (bytes[0] != 'E' || bytes[1] != 'd') return false;
    key.keyId = keyIdAt(bytes + 2);
    std::memcpy(key.key.data(), bytes + 10, key.key.size());
    return true;
}

std::string keyIdText(const KeyId& keyId) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = keyId.size(); i-- > 0;) {
        text += kDigits[keyId[i] >> 4];
        text += kDigits[keyId[i] & 0xf];
    }
    const std::size_t first = text.find_first_not_of('0');
    return first == std::string::npos ? "0" : text.substr(first);
}

bool commentField(std::string_view trustedComment, std::string_view name, std::string& value) {
    int found = 0;
    while (true) {
        const std::size_t end = trustedComment.find('\t');
        const std::string_view field = trustedComment.substr(0, end);
        if (field.size() > name.size() && field.substr(0, name.size()) == name && field[name.size()] == ':') {
            ++found;
            value.assign(field.substr(name.size() + 1));
        }
        if (end == std::string_view::npos) break;
        trustedComment.remove_prefix(end + 1);
    }
    // Two fields of one name would leave the signed value open to choice.
    if (found != 1) value.clear();
    return found == 1;
}

bool commentBindsStorePath(std::string_view trustedComment, std::string_view storePath) {
    const std::string_view fileName = storePath.substr(storePath.find_last_of('/') + 1);
    std::string file, path;
    return !fileName.empty() && commentField(trustedComment, "file", file) && file == fileName &&
           commentField(trustedComment, "path", path) && path == storePath;
}

}  // namespace starfell::minisign
