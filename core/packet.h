// Packet formats shared with the game server: the type word, text fields
// (one length byte, then that many UTF-8 bytes) and bounded readers.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace starfell {

enum class PacketType : std::uint32_t {
    News = 1000,
    Hello = 1001,
    PatchList = 1002,
    FileCheck = 1003,
};

constexpr std::size_t kHelloSize = 150;
constexpr std::size_t kPatchDoneSize = 15;
constexpr std::size_t kReceiveBufferSize = 1024;

// The little-endian type word at offset 0; false for a block shorter than four bytes.
bool readPacketType(const std::string& packet, std::uint32_t& type);

// Writes the type word at offset 0 of a packet at least four bytes long.
void writePacketType(std::string& packet, PacketType type);

// Writes a text field at `position` of a packet whose size is already fixed
// and advances `position` by 1 + the text's length. The length byte holds the
// low 8 bits of the length; nothing is written past the packet's end.
void appendString(std::string& packet, std::size_t& position, const std::string& text);

// The text of a field whose bytes start at `position` and run for `length`
// bytes, cut short where the block ends. A text ends at its first NUL byte;
// the caller still advances past all `length` bytes, so the next field starts
// where the sender put it.
std::string readString(const std::string& packet, std::size_t position, std::size_t length);

// Sequential, bounds-checked reading of a packet's fields. Once a read runs
// past the end of the block the reader stops: that read and every later one
// fail, and what was read before stays valid.
class PacketReader {
public:
    PacketReader(const std::string& packet, std::size_t position) : packet_(packet), position_(position) {}

    bool readByte(std::uint8_t& value);
    // A text field: length byte, then the text; fails when either runs past the end.
    bool readText(std::string& text);
    bool ok() const { return ok_; }
    std::size_t position() const { return position_; }

private:
    const std::string& packet_;
    std::size_t position_;
    bool ok_ = true;
};

}  // namespace starfell
