// Packet field encoding and bounded decoding.
#include "core/packet.h"

#include <cstring>

namespace starfell {

bool readPacketType(const std::string& packet, std::uint32_t& type) {
    if (packet.size() < 4) return false;
    const auto* bytes = reinterpret_cast<const unsigned char*>(packet.data());
    type = static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
    return true;
}

void writePacketType(std::string& packet, PacketType type) {
    const auto value = static_cast<std::uint32_t>(type);
    for (int i = 0; i < 4 && static_cast<std::size_t>(i) < packet.size(); ++i)
        packet[static_cast<std::size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

void appendString(std::string& packet, std::size_t& position, const std::string& text) {
    if (position < packet.size()) {
        packet[position] = static_cast<char>(text.size() & 0xFF);
        const std::size_t room = packet.size() - position - 1;
        std::memcpy(&packet[position + 1], text.data(), text.size() < room ? text.size() : room);
    }
    position += 1 + text.size();
}

std::string readString(const std::string& packet, std::size_t position, std::size_t length) {
    if (position >= packet.size()) return std::string();
    const std::size_t available = packet.size() - position;
    const std::size_t take = length < available ? length : available;
    const char* start = packet.data() + position;
    const void* nul = std::memchr(start, '\0', take);
    return std::string(start, nul ? static_cast<const char*>(nul) - start : take);
}

bool PacketReader::readByte(std::uint8_t& value) {
    if (!ok_ || position_ >= packet_.size()) return ok_ = false;
    value = static_cast<std::uint8_t>(packet_[position_++]);
    return true;
}

bool PacketReader::readText(std::string& text) {
    std::uint8_t length = 0;
    if (!readByte(length)) return false;
    if (packet_.size() - position_ < length) return ok_ = false;
    text = readString(packet_, position_, length);
    position_ += length;
    return true;
}

}  // namespace starfell
