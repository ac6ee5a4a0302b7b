// Reading minisign's text formats: detached signature files (FILE.minisig) and
// public key lines. Parsing only; the cryptography is in update/signature.cpp.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace starfell::minisign {

// A signature file holds four short lines; anything larger is refused unread.
constexpr std::size_t kMaximumSignatureFileSize = 2048;

using KeyId = std::array<std::uint8_t, 8>;

struct PublicKey {
    KeyId keyId{};
    std::array<std::uint8_t, 32> key{};
};

// Only minisign's default, prehashed signatures ("ED": Ed25519 over the file's
// BLAKE2b-512 digest) are taken. The algorithm bytes are not covered by the
// global signature, so accepting the legacy form too ("Ed": over the file
// itself) would let an edited line pass a file's 64-byte digest as the file.
struct Signature {
    KeyId keyId{};
    std::array<std::uint8_t, 64> signature{};        // over the file's digest
    std::string trustedComment;                       // without the "trusted comment: " prefix
    std::array<std::uint8_t, 64> globalSignature{};  // over signature + trustedComment
};

// Strict: exactly "untrusted comment: ...\n", the signature line, "trusted
// comment: ...\n", the global signature line, then at most one "\n"; exact
// base64 lengths with canonical padding; comments without control characters
// other than tab; at most kMaximumSignatureFileSize bytes.
bool parseSignature(std::string_view text, Signature& signature);

// The key line of a .pub file: base64 of "Ed", the key ID and the 32-byte key.
bool parsePublicKey(std::string_view keyLine, PublicKey& key);

// The key ID as minisign prints it ("EAD4553D22E86E5": hexadecimal, upper case,
// little-endian number without leading zeros).
std::string keyIdText(const KeyId& keyId);

// True when the trusted comment binds the signature to `storePath`, the file's
// path below the store's root ("patches/1001.zip"): it holds exactly one
// "file:" field, the path's last part (as minisign writes it), and exactly one
// "path:" field, the whole path (as scripts/sign-store writes it), among its
// tab-separated fields.
bool commentBindsStorePath(std::string_view trustedComment, std::string_view storePath);

// The value of the one field "NAME:VALUE" of the trusted comment; false when
// the field is missing or appears more than once.
bool commentField(std::string_view trustedComment, std::string_view name, std::string& value);

// Standard base64 with padding, decoded only when `text` is the canonical
// encoding of exactly `size` bytes.
bool decodeBase64(std::string_view text, std::uint8_t* out, std::size_t size);

}  // namespace starfell::minisign
