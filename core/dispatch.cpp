// The dispatch of received blocks: the type gate and the News handler. Kept
// apart from the socket code so the fuzzer can drive it with its own handlers.
#include "core/packet.h"
#include "core/server_connection.h"

namespace starfell {

void dispatchPacket(const std::string& packet, const PacketHandlers& handlers, LauncherState& state) {
    std::uint32_t type = 0;
    if (!readPacketType(packet, type)) return;  // no complete type: dropped like an unknown one

    if (state.authorised.load(std::memory_order_acquire) != 1) {
        if (type != static_cast<std::uint32_t>(PacketType::Hello)) return;
        // Test and set in one step, so only one hello answer is ever handled.
        std::int32_t expected = 0;
        if (!state.authorised.compare_exchange_strong(expected, 1, std::memory_order_acq_rel)) return;
        handlers.helloAnswer(packet);
        return;
    }

    switch (static_cast<PacketType>(type)) {
        case PacketType::News:
            handlers.news(packet);
            break;
        case PacketType::PatchList:
            handlers.patchList(packet);
            handlers.patchDone();
            break;
        case PacketType::FileCheck:
            handlers.fileCheck(packet);
            break;
        default:  // a second hello answer, or an unknown type
            break;
    }
}

void parseNews(const std::string& packet, LauncherState& state) {
    PacketReader reader(packet, 4);
    std::uint8_t count = 0;
    if (!reader.readByte(count)) return;
    for (unsigned i = 0; i < count; ++i) {
        std::string line;
        if (!reader.readText(line)) return;  // a line cut off by the block's end is not shown
        state.appendNews(std::move(line));
    }
}

}  // namespace starfell
