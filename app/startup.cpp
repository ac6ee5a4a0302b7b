// Start-up sequence shared by both platforms: the packet handlers and the
// main screen are wired in here.
#include "app/startup.h"

#include <thread>

#include "app/packet_handlers.h"
#include "base/file_platform.h"
#include "base/file_utils.h"
#include "base/launcher_log.h"
#include "base/message_box.h"
#include "base/socket_platform.h"
#include "core/launcher_state.h"
#include "core/server_connection.h"
#include "integrity/file_md5.h"
#include "screen/settings_panel.h"
#include "screen/main_screen.h"
#include "ui/window.h"
#include "update/self_update.h"
#include "update/signature.h"
#include "update/version_store.h"

namespace starfell {

namespace {

int failStartup() {
    appendToLauncherLog("Cannot connect to the server.");
    showMessageBox("Cannot connect to the server.", "Confirmation", kMessageBoxOk | kMessageBoxIconQuestion);
    return 0;
}

// Once, on the UI thread, before the first frame.
void prepareFirstFrame() { loadSettingsPanel(launcherFolder()); }

void runFrameLoop() { runFrameLoopWith(&drawMainScreen, &prepareFirstFrame, &mainScreenContentChanged); }

// The player's log beside the launcher (none when the launcher cannot find its
// own folder: it never writes elsewhere), opened with the status it starts with.
void startLog() {
    const std::wstring folder = launcherFolder();
    if (folder.empty()) return;
    startLauncherLog(folder + kLauncherLogName);
    appendToLauncherLog("Launcher started.");
    appendToLauncherLog("Status: " + launcherState.statusText());
}

}  // namespace

int runLauncher() {
    startLog();
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
    launcherState.setInstalledVersion(peekInstalledVersion());  // the title has it from the first frame
    createLauncherWindow();
    std::thread(runFrameLoop).detach();
    pumpMessagesForever();
}

}  // namespace starfell
