// The launcher's one TCP connection to the game server: the hello, the
// receive loop, and the dispatch of every received block to its handler.
#pragma once
#include <cstddef>
#include <string>

#include "core/launcher_state.h"

namespace starfell {

// What the dispatch calls for each packet type. Start-up hands over the
// launcher's real handlers; tests and the fuzzer pass their own.
struct PacketHandlers {
    void (*helloAnswer)(const std::string& packet);
    void (*news)(const std::string& packet);
    void (*patchList)(const std::string& packet);
    void (*fileCheck)(const std::string& packet);
    void (*patchDone)();  // after the patch-list handler has returned
};

// The handlers the receive loop's packet threads use; until some are set,
// received packets are dropped. `handlers` must outlive every packet thread.
void setPacketHandlers(const PacketHandlers& handlers);

// Connects launcherState.serverSocket to the configured server, sends the
// hello, starts the receive thread and waits (100 ms polls, no limit) for the
// hello answer. False when the address is invalid or the connection fails
// (in the latter case the socket is closed and networking released).
bool connectToServer();

void sendHello();
void sendPatchDone();
// One send; a send that does not take the whole packet counts as a failure,
// and the tenth failure ends the process through closeAndExit.
void sendPacket(const std::string& bytes);

// Packet threads that may be at work at once. Patch and file lists take
// turns, so a server that sends them faster than they finish would otherwise
// make threads without end, until one could not be created at all.
constexpr int kMaximumPacketThreads = 64;

// Starts the detached packet thread for one received block; false (with a
// diagnostic) when the block is dropped because kMaximumPacketThreads are at
// work or no thread can be created.
bool startPacketThread(std::string packet);
int packetThreadsAtWork();

[[noreturn]] void receiveLoop();
[[noreturn]] void closeAndExit();

// Packet-thread body: the type gate, then the handler for the type.
void dispatchPacket(std::string packet);
void dispatchPacket(const std::string& packet, const PacketHandlers& handlers, LauncherState& state);

// The News handler: appends every complete line to state.newsItems.
void parseNews(const std::string& packet, LauncherState& state = launcherState);

// Test seam for the one platform call a test cannot provoke: a short send.
using SendFunction = long (*)(std::intptr_t socket, const char* bytes, std::size_t length);
void setSendFunction(SendFunction send);

}  // namespace starfell
