// Packets as the game server sends them, built field by field, and a wait for
// work that other threads finish, for the tests of the server connection.
#pragma once

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "core/packet.h"

namespace starfell::test {

inline std::string typed(PacketType type) {
    std::string packet(4, '\0');
    writePacketType(packet, type);
    return packet;
}

inline std::string field(const std::string& text) { return static_cast<char>(text.size()) + text; }

inline std::string newsPacket(const std::vector<std::string>& lines) {
    std::string packet = typed(PacketType::News) + static_cast<char>(lines.size());
    for (const auto& line : lines) packet += field(line);
    return packet;
}

inline std::string patchListPacket(const std::string& numbers) { return typed(PacketType::PatchList) + field(numbers); }

struct Entry {
    std::string path, downloadName, digests;
};

inline std::string fileCheckPacket(const std::vector<Entry>& entries) {
    std::string packet = typed(PacketType::FileCheck) + static_cast<char>(entries.size()) + field("files");
    for (const auto& entry : entries) packet += field(entry.path) + field(entry.downloadName) + field(entry.digests);
    return packet;
}

template <typename Predicate>
inline bool waitFor(Predicate done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

}  // namespace starfell::test
