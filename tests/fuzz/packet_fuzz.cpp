// Feeds arbitrary received blocks through the dispatch, with handlers that
// read every field the real ones read but touch no network or disk.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/packet.h"
#include "core/server_connection.h"

namespace {

using starfell::PacketReader;

void readPatchList(const std::string& packet) {
    const std::uint8_t length = packet.size() > 4 ? static_cast<std::uint8_t>(packet[4]) : 0;
    volatile std::size_t size = starfell::readString(packet, 5, length).size();
    (void)size;
}

void readFileCheck(const std::string& packet) {
    PacketReader reader(packet, 4);
    std::uint8_t count = 0;
    std::string header, path, name, digests;
    if (!reader.readByte(count) || !reader.readText(header)) return;
    for (unsigned i = 0; i < count; ++i)
        if (!reader.readText(path) || !reader.readText(name) || !reader.readText(digests)) return;
}

void ignore() {}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The receive loop hands over at most one 1024-byte block.
    if (size > starfell::kReceiveBufferSize) size = starfell::kReceiveBufferSize;
    const std::string block(reinterpret_cast<const char*>(data), size);

    static const starfell::PacketHandlers handlers{&readPatchList, nullptr, &readPatchList, &readFileCheck, &ignore};
    starfell::PacketHandlers withNews = handlers;
    starfell::LauncherState state;
    withNews.news = [](const std::string& packet) {
        starfell::LauncherState local;
        starfell::parseNews(packet, local);
    };
    // Once through the gate as an unauthorised launcher, once authorised.
    starfell::dispatchPacket(block, withNews, state);
    state.authorised = 1;
    starfell::dispatchPacket(block, withNews, state);
    return 0;
}
