// The dispatch of received blocks: the type gate and the News handler. Kept
// apart from the socket code so the fuzzer can drive it with its own handlers.
#include <atomic>

#include "base/diagnostics.h"
#include "core/packet.h"
#include "core/server_connection.h"

namespace starfell {

namespace {

// Said once per process: a server flooding news would otherwise flood stderr too.
void reportNewsListFull() {
    static std::atomic<bool> reported{false};
    if (!reported.exchange(true))
        writeDiagnostic("News list full, further lines dropped after: " + std::to_string(kMaximumNewsItems));
}

}  // namespace

void dispatchPacket(const std::string& packet, const PacketHandlers& handlers, LauncherState& state,
                    const PostWork& post) {
    std::uint32_t type = 0;
    if (!readPacketType(packet, type)) return;  // no complete type: dropped like an unknown one

    if (state.authorised.load(std::memory_order_acquire) != 1) {
        if (type != static_cast<std::uint32_t>(PacketType::Hello)) return;
        state.authorised.store(1, std::memory_order_release);
        // The self-update it may start writes files: it takes its turn with the lists.
        post([&handlers, packet] { handlers.helloAnswer(packet); });
        return;
    }

    switch (static_cast<PacketType>(type)) {
        case PacketType::News:
            handlers.news(packet);
            break;
        case PacketType::PatchList:
            post([&handlers, packet] {
                handlers.patchList(packet);
                handlers.patchDone();  // each list still gets its own report
            });
            break;
        case PacketType::FileCheck:
            post([&handlers, packet] { handlers.fileCheck(packet); });
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
        if (!state.appendNews(std::move(line))) {
            reportNewsListFull();
            return;
        }
    }
}

}  // namespace starfell
