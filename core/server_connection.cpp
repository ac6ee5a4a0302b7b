// Server connection: hello, receive loop, dispatch.
#include "core/server_connection.h"

#include <chrono>
#include <cstdlib>
#include <thread>

#include "base/process_end.h"
#include "base/socket_platform.h"
#include "core/launcher_config.h"
#include "core/packet.h"

namespace starfell {

namespace {

std::atomic<SendFunction> sendFunction{&net::sendOnce};
std::atomic<const PacketHandlers*> packetHandlers{nullptr};  // null: packets are dropped
void sleepFor(int milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

}  // namespace

void setPacketHandlers(const PacketHandlers& handlers) { packetHandlers.store(&handlers); }

void setSendFunction(SendFunction send) { sendFunction.store(send ? send : &net::sendOnce); }

bool connectToServer() {
    const LauncherConfig& config = launcherConfig();
    const std::intptr_t socket = launcherState.serverSocket.load();
    std::uint32_t address = 0;
    if (!net::parseIPv4(config.ServerAddress, address)) return false;
    if (!net::connectIPv4(socket, address, config.ServerPort)) {
        net::closeSocket(socket);
        net::stopNetworking();
        return false;
    }
    sendHello();
    // The hello is already on its way; an early answer simply waits in the socket.
    std::thread(receiveLoop).detach();
    while (launcherState.authorised.load(std::memory_order_acquire) != 1) sleepFor(100);
    return true;
}

void sendHello() {
    launcherState.phase.store(LauncherPhase::Greeted);
    std::string hello(kHelloSize, '\0');
    writePacketType(hello, PacketType::Hello);
    std::size_t position = 4;
    appendString(hello, position, launcherState.launcherDigest);
    sendPacket(hello);
}

void sendPatchDone() {
    std::string report(kPatchDoneSize, '\0');
    writePacketType(report, PacketType::FileCheck);
    sendPacket(report);
}

void sendPacket(const std::string& bytes) {
    const long sent = sendFunction.load()(launcherState.serverSocket.load(), bytes.data(), bytes.size());
    if (sent != static_cast<long>(bytes.size())) {
        if (launcherState.sendFailures.fetch_add(1) + 1 >= 10) closeAndExit();
    }
}

void receiveLoop() {
    char buffer[kReceiveBufferSize];
    for (;;) {
        const long received = net::receiveOnce(launcherState.serverSocket.load(), buffer, sizeof(buffer));
        if (received <= 0) closeAndExit();
        // Every block is one packet.
        const PacketHandlers* handlers = packetHandlers.load();
        if (handlers)
            dispatchPacket(std::string(buffer, static_cast<std::size_t>(received)), *handlers, launcherState,
                           [](Work work) { return fileWorker().post(std::move(work)); });
        sleepFor(100);
    }
}

void closeAndExit() {
    net::closeSocket(launcherState.serverSocket.load());
    net::stopNetworking();
    endProcess(0);
}

}  // namespace starfell
