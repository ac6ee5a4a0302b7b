// Start-up sequence shared by both platforms: the packet handlers and the
// main screen are wired in here.
#include "app/startup.h"

#include <thread>

#include "app/packet_handlers.h"
#include "base/file_platform.h"
#include "base/message_box.h"
#include "base/socket_platform.h"
#include "core/launcher_state.h"
#include "core/server_connection.h"
#include "integrity/file_md5.h"
#include "screen/game_settings.h"
#include "screen/main_screen.h"
#include "ui/window.h"
#include "update/self_update.h"
#include "update/signature.h"

namespace starfell {

namespace {

int failStartup() {
    showMessageBox("Cannot connect to the server.", "Confirmation", kMessageBoxOk | kMessageBoxIconQuestion);
    return 0;
}

// Once, on the UI thread, before the first frame.
void prepareFirstFrame() { loadGameSettings(); }

void runFrameLoop() { runFrameLoopWith(&drawMainScreen, &prepareFirstFrame); }

}  // namespace

int runLauncher() {
    // The identity digest; "None" when the executable cannot be read.
    launcherState.launcherDigest = fileMd5(fs::modulePath());
    reportUpdateSigning();
    setPacketHandlers(launcherHandlers());

    if (!net::startNetworking()) return failStartup();
    const std::intptr_t socket = net::openTcpSocket();
    if (socket == net::kNoSocket) {
        net::stopNetworking();
        return failStartup();
    }
    launcherState.serverSocket.store(socket);
    if (!connectToServer()) return failStartup();

    removeOldLauncher();
    createLauncherWindow();
    std::thread(runFrameLoop).detach();
    pumpMessagesForever();
}

}  // namespace starfell
