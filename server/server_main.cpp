// starfell-server: the game server's stand-in for operators, the demo and the
// tests. `serve` runs the TCP packet service and the HTTP file store;
// `manifest` writes the file list of a clean game folder.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <thread>

#include "server/content.h"
#include "server/http_store.h"
#include "server/scenario.h"
#include "server/server_log.h"
#include "server/tcp_service.h"

using namespace starfell::server;

namespace {

const char* const Usage = R"(usage:
  starfell-server serve --root DIR [--address A] [--scenario FILE] [--log FILE]
                        [--tcp-port N] [--http-port N]
  starfell-server manifest --game DIR
  starfell-server --help

serve     Runs the launcher's game server on A (default 127.0.0.1): the packet
          service on TCP port 9538 and a static HTTP store of DIR on port 80.
          Stops on SIGINT or SIGTERM. Logs one line per event to stdout (and to
          FILE with --log).
manifest  Prints the files.txt of a clean game folder: every file below DIR
          with its MD5. Fails (exit code 1) when the list cannot travel in one
          FileCheck packet (1024 bytes, 255 entries, 255-byte fields).

Content folder DIR:
  news.txt                       one news line per line (UTF-8)
  patches/N.zip                  patch archives; N a decimal number without
                                 leading zeros
  patches/Launcher/StarfellLauncher.exe, patches/Launcher/StarfellLauncher
                                 the current launcher builds; a launcher whose
                                 digest matches neither is told to update.
                                 With no build there, every launcher is current.
  patches/Launcher/<name>        fresh copies of game files, fetched by the
                                 download names of files.txt
  files.txt                      the file list for verification, one entry a
                                 line, three fields separated by tabs:
                                   path<TAB>download name<TAB>digests
                                 path: relative to the game folder, '/' between
                                 folders; digests: the accepted MD5 digests
                                 (32 lowercase hex digits each, any separator).
                                 Empty lines and lines starting with '#' are
                                 skipped. No files.txt: an empty list is sent.

Conversation per launcher: read the 150-byte greeting, answer Hello "true" or
"false", send the news, send the PatchList (the newest archive numbers that fit
255 bytes), and after the launcher's first report send the FileCheck list.
Packets are sent 250 ms apart so each arrives on its own.

Scenario FILE (replaces the conversation on every connection), one step a line:
  read-hello                read and log the greeting (closes on a bad one)
  send-verdict              answer the greeting read with the content's verdict
  send-hello-answer TEXT    a Hello answer with TEXT
  send-news L1|L2|...       one News packet (empty: count 0)
  send-patchlist TEXT       one PatchList packet
  send-filecheck P,N,D|...  one FileCheck packet of entries path,name,digests
  send HEX                  raw bytes, e.g. "e8 03 00 00 00"
  +<send step>              held back and sent with the next send step in one
                            send call (two packets in one block)
  gap MS                    least time between two sends (default 250)
  wait MS                   pause
  expect N                  read exactly N bytes and log them in hex
  hold                      keep the connection open, log what arrives
  close                     close the connection
  # ...                     comment
TEXT escapes: \n \r \t \\ \| \, \xHH. A script that runs out holds.
)";

int fail(const std::string& message) {
    std::cerr << "starfell-server: " << message << "\n";
    return 1;
}

// "--name value" pairs after the command; false on anything else.
bool parseOptions(int argc, char** argv, int first, std::map<std::string, std::string>& options, std::string& error) {
    for (int i = first; i < argc; ++i) {
        std::string name = argv[i];
        if (name.rfind("--", 0) != 0 || i + 1 >= argc) {
            error = "unexpected argument \"" + name + "\" (see --help)";
            return false;
        }
        options[name.substr(2)] = argv[++i];
    }
    return true;
}

bool parsePort(const std::string& text, int& port) {
    char* end = nullptr;
    long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < 1 || value > 65535) return false;
    port = static_cast<int>(value);
    return true;
}

std::string bindAdvice(int code, const std::string& address, int port) {
    std::string where = address + ":" + std::to_string(port);
    if (code == EACCES || code == EPERM) {
        std::string self = "starfell-server";
        std::error_code error;
        auto path = std::filesystem::read_symlink("/proc/self/exe", error);
        if (!error) self = path.string();
        return "cannot listen on " + where + ": " + std::strerror(code) +
               ". Ports below 1024 need privileges: run as root, or allow this program once with\n"
               "  sudo setcap cap_net_bind_service=+ep " + self;
    }
    if (code == EADDRINUSE) {
        return "cannot listen on " + where + ": another program is using it; stop it or serve on another --address";
    }
    if (code == EADDRNOTAVAIL) {
        return "cannot listen on " + where + ": the address does not belong to this machine";
    }
    return "cannot listen on " + where + ": " + std::strerror(code);
}

int serve(std::map<std::string, std::string> options) {
    for (const auto& [name, value] : options) {
        if (name != "root" && name != "address" && name != "scenario" && name != "log" && name != "tcp-port" &&
            name != "http-port") {
            return fail("unknown option --" + name + " (see --help)");
        }
    }
    if (!options.count("root")) return fail("serve needs --root DIR (see --help)");
    std::string root = options["root"];
    std::error_code error;
    if (!std::filesystem::is_directory(root, error)) return fail("content folder " + root + " does not exist");
    std::string address = options.count("address") ? options["address"] : "127.0.0.1";
    int tcpPort = 9538, httpPort = 80;
    if (options.count("tcp-port") && !parsePort(options["tcp-port"], tcpPort)) return fail("bad --tcp-port");
    if (options.count("http-port") && !parsePort(options["http-port"], httpPort)) return fail("bad --http-port");

    ContentFolder content(root);
    FileListResult files = content.fileList();
    if (!files.error.empty()) return fail(files.error);

    std::optional<Scenario> scenario;
    if (options.count("scenario")) {
        std::ifstream in(options["scenario"], std::ios::binary);
        if (!in) return fail("cannot read scenario " + options["scenario"]);
        std::ostringstream text;
        text << in.rdbuf();
        scenario = parseScenario(text.str());
        if (!scenario->error.empty()) return fail("scenario " + options["scenario"] + ": " + scenario->error);
    }
    if (options.count("log") && !openLogFile(options["log"])) {
        return fail("cannot open log file " + options["log"] + ": " + std::strerror(errno));
    }

    // Signals are taken by sigwait below; no other thread may receive them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    TcpService tcp(content, scenario);
    HttpStore http(root);
    std::string problem;
    int code = 0;
    if (!tcp.listenOn(address, tcpPort, problem, code)) return fail(bindAdvice(code, address, tcpPort));
    if (!http.listenOn(address, httpPort, problem, code)) return fail(bindAdvice(code, address, httpPort));

    std::vector<std::string> skipped;
    content.patchNumbers(&skipped);
    for (const std::string& name : skipped) logLine("content skipped " + name + ": not a patch number");

    http.start();
    std::thread tcpThread([&tcp] { tcp.run(); });
    logLine("ready tcp " + address + ":" + std::to_string(tcpPort) + " http " + address + ":" +
            std::to_string(httpPort) + (scenario ? " scenario " + options["scenario"] : ""));

    int received = 0;
    sigwait(&signals, &received);
    logLine(std::string("stopping on ") + (received == SIGINT ? "SIGINT" : "SIGTERM"));
    stopRequested = true;
    http.stop();
    tcpThread.join();
    logLine("stopped");
    return 0;
}

int manifest(std::map<std::string, std::string> options) {
    if (options.size() != 1 || !options.count("game")) return fail("manifest needs --game DIR and nothing else");
    FileListResult result = manifestOf(options["game"]);
    if (result.error.empty()) result.error = fileListProblem(result.entries);
    if (!result.error.empty()) return fail("cannot make a file list of " + options["game"] + ": " + result.error);
    std::cout << formatFileList(result.entries) << std::flush;
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string command = argc > 1 ? argv[1] : "";
    if (command == "--help" || command == "-h" || command == "help") {
        std::cout << Usage;
        return 0;
    }
    std::map<std::string, std::string> options;
    std::string error;
    if (command == "serve" || command == "manifest") {
        if (!parseOptions(argc, argv, 2, options, error)) return fail(error);
        return command == "serve" ? serve(options) : manifest(options);
    }
    std::cerr << Usage;
    return 2;
}
