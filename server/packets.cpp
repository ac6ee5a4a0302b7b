// Packet building and parsing for the launcher protocol: little-endian types,
// one-byte counts, text fields of one length byte plus UTF-8 bytes.
#include "server/packets.h"

namespace starfell::server {

std::string fitText(const std::string& text) {
    if (text.size() <= MaxTextSize) return text;
    size_t end = MaxTextSize;
    // Step back over continuation bytes so a multi-byte character is dropped
    // whole instead of leaving the launcher invalid UTF-8.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

void appendText(Bytes& packet, const std::string& text) {
    packet += static_cast<char>(text.size() & 0xFF);
    packet += text;
}

Bytes packetHead(uint32_t type) {
    Bytes head(4, '\0');
    for (int i = 0; i < 4; ++i) head[i] = static_cast<char>((type >> (8 * i)) & 0xFF);
    return head;
}

Bytes helloAnswer(const std::string& verdict) {
    Bytes packet = packetHead(Hello);
    appendText(packet, fitText(verdict));
    return packet;
}

std::vector<Bytes> newsPackets(const std::vector<std::string>& lines) {
    std::vector<Bytes> packets;
    Bytes body;
    size_t count = 0;
    auto flush = [&] {
        Bytes packet = packetHead(News);
        packet += static_cast<char>(count);
        packet += body;
        packets.push_back(packet);
        body.clear();
        count = 0;
    };
    for (const std::string& line : lines) {
        std::string text = fitText(line);
        if (count == 255 || 5 + body.size() + 1 + text.size() > MaxPacketSize) flush();
        appendText(body, text);
        ++count;
    }
    if (count > 0 || packets.empty()) flush();
    return packets;
}

Bytes patchListPacket(const std::string& text) {
    Bytes packet = packetHead(PatchList);
    appendText(packet, fitText(text));
    return packet;
}

std::string patchListText(const std::vector<std::string>& numbers) {
    std::string text;
    for (auto it = numbers.rbegin(); it != numbers.rend(); ++it) {
        std::string longer = text.empty() ? *it : *it + "\n" + text;
        if (longer.size() > MaxTextSize) break;
        text = longer;
    }
    return text;
}

std::optional<Bytes> fileCheckPacket(const std::string& header, const std::vector<FileEntry>& entries) {
    if (entries.size() > 255 || header.size() > MaxTextSize) return std::nullopt;
    Bytes packet = packetHead(FileCheck);
    packet += static_cast<char>(entries.size());
    appendText(packet, header);
    for (const FileEntry& entry : entries) {
        for (const std::string* field : {&entry.path, &entry.downloadName, &entry.digests}) {
            if (field->size() > MaxTextSize) return std::nullopt;
            appendText(packet, *field);
        }
    }
    if (packet.size() > MaxPacketSize) return std::nullopt;
    return packet;
}

uint32_t packetType(const Bytes& bytes) {
    if (bytes.size() < 4) return 0;
    uint32_t type = 0;
    for (int i = 3; i >= 0; --i) type = (type << 8) | static_cast<unsigned char>(bytes[i]);
    return type;
}

Greeting parseGreeting(const Bytes& bytes) {
    Greeting greeting;
    if (bytes.size() != GreetingSize) {
        greeting.problem = "greeting of " + std::to_string(bytes.size()) + " bytes, expected " +
                           std::to_string(GreetingSize);
        return greeting;
    }
    if (packetType(bytes) != Hello) {
        greeting.problem = "greeting of type " + std::to_string(packetType(bytes)) + ", expected 1001";
        return greeting;
    }
    size_t length = static_cast<unsigned char>(bytes[4]);
    if (5 + length > GreetingSize) {
        greeting.problem = "digest length " + std::to_string(length) + " runs past the greeting";
        return greeting;
    }
    greeting.digest = bytes.substr(5, length);
    greeting.valid = true;
    return greeting;
}

bool isReport(const Bytes& bytes) { return bytes.size() == ReportSize && packetType(bytes) == FileCheck; }

std::string toHex(const Bytes& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (unsigned char byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}

std::optional<Bytes> fromHex(const std::string& text) {
    Bytes bytes;
    int high = -1;
    for (char c : text) {
        if (c == ' ' || c == '\t') continue;
        int value;
        if (c >= '0' && c <= '9') value = c - '0';
        else if (c >= 'a' && c <= 'f') value = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') value = c - 'A' + 10;
        else return std::nullopt;
        if (high < 0) {
            high = value;
        } else {
            bytes += static_cast<char>(high * 16 + value);
            high = -1;
        }
    }
    if (high >= 0) return std::nullopt;
    return bytes;
}

}  // namespace starfell::server
