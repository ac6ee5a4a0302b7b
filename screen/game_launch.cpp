// The client counter's rules and the start sequence shared by both platforms.
#include "screen/game_launch.h"

#include "base/message_box.h"
#include "base/process_end.h"
#include "update/game_guard.h"

namespace starfell {

int clientCountAfterMinus(int clientCount) { return clientCount > MinClientCount ? clientCount - 1 : clientCount; }

int clientCountAfterPlus(int clientCount) { return clientCount < MaxClientCount ? clientCount + 1 : clientCount; }

int startGameClients(int count, const std::function<bool()>& startOne, const std::function<void()>& pause) {
    int started = 0;
    while (started < count) {
        if (!startOne()) break;
        ++started;
        pause();
    }
    return started;
}

bool launchGame(int clientCount) {
    const int started = startGameClients(clientCount, &startGameClient, &pauseBetweenClients);
    if (started == clientCount) endProcess(0);
    showMessageBox(std::string("Failed To Start ") + kGameImageName, "ERROR", kMessageBoxOk);
    return false;
}

}  // namespace starfell
