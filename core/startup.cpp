// Start-up sequence shared by both platforms.
#include "core/startup.h"

#include <thread>

#include "core/launcher_state.h"
#include "core/message_box.h"
#include "core/server_connection.h"
#include "core/socket_platform.h"
#include "integrity/file_md5.h"
#include "ui/window.h"
#include "update/file_platform.h"
#include "update/self_update.h"

namespace starfell {

namespace {

int failStartup() {
    showMessageBox("Cannot connect to the server.", "Confirmation", kMessageBoxOk | kMessageBoxIconQuestion);
    return 0;
}

}  // namespace

int runLauncher() {
    // The identity digest; "None" when the executable cannot be read.
    launcherState.launcherDigest = fileMd5(fs::modulePath());

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
