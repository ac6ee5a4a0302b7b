// The launcher's one TCP connection to the game server: the hello, the
// receive loop, and the dispatch of every received block to its handler.
#pragma once
#include <cstddef>
#include <string>

#include "core/file_work.h"
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

// The handlers the receive loop dispatches to; until some are set, received
// packets are dropped. `handlers` must outlive the process's file worker.
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

[[noreturn]] void receiveLoop();
[[noreturn]] void closeAndExit();

// The type gate, then the handler for the type: News at once on the calling
// (receive) thread, everything that changes files through `post`, in order.
// Only the first hello answer passes the gate. Receive thread only.
void dispatchPacket(const std::string& packet, const PacketHandlers& handlers, LauncherState& state,
                    const PostWork& post = runAtOnce);

// The News handler: appends every complete line to state.newsItems.
void parseNews(const std::string& packet, LauncherState& state = launcherState);

// Test seam for the one platform call a test cannot provoke: a short send.
using SendFunction = long (*)(std::intptr_t socket, const char* bytes, std::size_t length);
void setSendFunction(SendFunction send);

}  // namespace starfell
