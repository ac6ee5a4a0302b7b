// Starting the game client on PLAY: the client counter's rules and the start
// of one or more "Conquer.exe quietfern" processes, which ends the launcher.
#pragma once
#include <functional>

namespace starfell {

// The argument every client is started with after its own name
// (kGameImageName, update/game_guard.h).
constexpr char kGameClientArgument[] = "quietfern";

// How many clients PLAY starts: 1 at start, kept within these bounds.
constexpr int MinClientCount = 1;
constexpr int MaxClientCount = 50;

// The counter after its minus or plus button: unchanged at the bound.
int clientCountAfterMinus(int clientCount);
int clientCountAfterPlus(int clientCount);

// Starts `clientCount` clients one after another, 500 ms apart (also after the
// last). When all have started the process ends at once with exit code 0 and
// this does not return. When one fails to start, shows "Failed To Start
// Conquer.exe" titled "ERROR", starts no more and returns false; the clients
// already started keep running.
bool launchGame(int clientCount);

// The loop of launchGame without its ending: calls `startOne` up to `count`
// times, `pause` after every success, and stops at the first failure.
// Returns how many started.
int startGameClients(int count, const std::function<bool()>& startOne, const std::function<void()>& pause);

// Platform: starts one client with the command line "Conquer.exe quietfern"
// and the current directory "."; does not wait for it. True when it started.
bool startGameClient();
// Platform: the 500 ms pause between two starts.
void pauseBetweenClients();
}  // namespace starfell
