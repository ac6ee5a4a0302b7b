// Byte layouts of the packets exchanged with the launcher: building the
// server's packets and reading the launcher's greeting and report.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace starfell::server {

using Bytes = std::string;  // raw packet bytes; NUL bytes allowed

enum PacketType : uint32_t { News = 1000, Hello = 1001, PatchList = 1002, FileCheck = 1003 };

constexpr size_t MaxPacketSize = 1024;  // the launcher's receive buffer
constexpr size_t GreetingSize = 150;    // the launcher's Hello
constexpr size_t ReportSize = 15;       // the launcher's FileCheck report
constexpr size_t MaxTextSize = 255;     // one length byte

// One entry of a FileCheck list.
struct FileEntry {
    std::string path;          // relative to the game folder, '/' separated
    std::string downloadName;  // fetched from <website>patches/Launcher/<downloadName>
    std::string digests;       // accepted MD5 digests; the file passes when its digest occurs in it
};

// `text` shortened to at most MaxTextSize bytes, never splitting a UTF-8 sequence.
std::string fitText(const std::string& text);

// Appends a text field (length byte + bytes); the text must already fit.
void appendText(Bytes& packet, const std::string& text);

// Type at offset 0, little-endian.
Bytes packetHead(uint32_t type);

Bytes helloAnswer(const std::string& verdict);
// As many News packets as the lines need, each at most MaxPacketSize bytes;
// every line is cut to MaxTextSize bytes. No lines: one News with count 0.
std::vector<Bytes> newsPackets(const std::vector<std::string>& lines);
Bytes patchListPacket(const std::string& text);
// The PatchList text for `numbers` (ascending): the newest numbers whose
// line-feed-joined text fits MaxTextSize bytes.
std::string patchListText(const std::vector<std::string>& numbers);
// Nothing when the list does not fit one packet (more than 255 entries, a
// field longer than 255 bytes, or more than MaxPacketSize bytes in all).
std::optional<Bytes> fileCheckPacket(const std::string& header, const std::vector<FileEntry>& entries);

// The launcher's greeting: type 1001, byte 4 = digest length, then the digest.
struct Greeting {
    bool valid = false;
    std::string digest;
    std::string problem;  // why it is not valid
};
Greeting parseGreeting(const Bytes& bytes);

bool isReport(const Bytes& bytes);  // 15 bytes, type 1003

uint32_t packetType(const Bytes& bytes);  // 0 when shorter than 4 bytes
std::string toHex(const Bytes& bytes);
// Hex digits with optional spaces; nothing when malformed.
std::optional<Bytes> fromHex(const std::string& text);

}  // namespace starfell::server
