// starfell-server: the game server's stand-in for operators, the demo and the
// tests. `serve` runs the TCP packet service and the HTTP file store;
// `manifest` writes the file list of a clean game folder.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "server/content.h"
#include "server/http_store.h"
#include "server/patch_maker.h"
#include "server/release.h"
#include "server/scenario.h"
#include "server/server_log.h"
#include "server/tcp_service.h"

using namespace starfell::server;

namespace {

const char* const Usage = R"(usage:
  starfell-server serve --root DIR [--address A] [--scenario FILE] [--log FILE]
                        [--tcp-port N] [--http-port N] [limits below]
  starfell-server manifest --game DIR
  starfell-server make-patch --from OLD --to NEW --number N --root DIR [--files]
                             [--no-delta]
  starfell-server release --from OLD --to NEW --number N --root DIR
                          [--secret-key FILE] [--no-delta]
  starfell-server --help

serve     Runs the launcher's game server on A (default 127.0.0.1): the packet
          service on TCP port 9538 and a static HTTP store of DIR on port 80.
          Stops on SIGINT or SIGTERM. Logs one line per event to stdout (and to
          FILE with --log).
Limits of serve (each a whole number; the default suits one public machine):
  --max-connections N    launcher connections open at once (2000); more are
                         closed at once and logged
  --max-per-address N    connections from one client address, per service
                         (32; 0: no cap)
  --hello-timeout S      seconds for the whole 150-byte greeting (10)
  --idle-timeout S       seconds a greeted launcher may send nothing before it
                         is closed (7200)
  --http-connections N   HTTP connections open at once (1024)
  --http-workers N       downloads served at once (128)
  --http-workers-per-address N
                         of those, downloads served at once to one client
                         address (8; 0: no cap); its other requests wait
  --http-queue N         whole requests waiting for a worker (512); more are
                         answered 503
  --http-timeout S       seconds for a whole request to arrive, and for any
                         stalled read or write of a download (10)
  --http-least-rate B    bytes a second a download must average over each
                         --http-timeout, or it is cut off (1024; 0: none)
When descriptors or threads run out, new connections are refused with a log
line (at most one a second) and accepting pauses, up to 1 s.

manifest  Prints the files.txt of a clean game folder: every file below DIR
          with its MD5. Fails (exit code 1) when the list cannot travel in one
          FileCheck packet (1024 bytes, 255 entries, 255-byte fields).
make-patch
          Writes DIR/patches/N.zip with every file of the game folder NEW that
          is missing in OLD or differs from it byte for byte, and a version.dat
          holding N. N must be above the newest patch in DIR/patches. Files of
          OLD missing in NEW are listed as a warning (a patch cannot delete).
          With --files, the files.txt entries of the patch's files are printed.
          A changed file of 64 KiB or more whose binary delta is under half its
          size travels as that delta (under .starfell-delta/ in the archive);
          the launcher applies it only over the exact old file and otherwise
          fetches the file whole from patches/Launcher/. --no-delta: whole
          files only.
release   A release in one step: the patch as make-patch makes it, whole copies
          of its files under DIR/patches/Launcher/, files.txt with their new
          lines, and signatures of all of them by scripts/sign-store (minisign;
          a password is asked once; --secret-key FILE, else sign-store's
          default key). The patch is then proved: the launcher's own
          extraction over a copy of OLD must give NEW byte for byte. Only then
          is everything renamed into DIR; any failure publishes nothing.
          sign-store is found beside the source tree of this program, or named
          by the environment variable STARFELL_SIGN_STORE.

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
        if (name == "--files" || name == "--no-delta") {
            options[name.substr(2)] = "yes";
            continue;
        }
        if (name.rfind("--", 0) != 0 || i + 1 >= argc) {
            error = "unexpected argument \"" + name + "\" (see --help)";
            return false;
        }
        options[name.substr(2)] = argv[++i];
    }
    return true;
}

bool parseNumber(const std::string& text, long lowest, long highest, long& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text.c_str(), &end, 10);
    return !text.empty() && *end == '\0' && errno == 0 && value >= lowest && value <= highest;
}

bool parsePort(const std::string& text, int& port) {
    long value = 0;
    if (!parseNumber(text, 1, 65535, value)) return false;
    port = static_cast<int>(value);
    return true;
}

// Reads the limit options into `tcp` and `http`; an error message, or empty.
std::string parseLimits(std::map<std::string, std::string>& options, TcpLimits& tcp, HttpLimits& http) {
    struct Limit {
        const char* name;
        long lowest, highest;
        std::function<void(long)> set;
    };
    const Limit limits[] = {
        {"max-connections", 1, 1000000, [&](long v) { tcp.accept.maxConnections = static_cast<int>(v); }},
        {"max-per-address", 0, 1000000,
         [&](long v) { tcp.accept.maxPerAddress = http.accept.maxPerAddress = static_cast<int>(v); }},
        {"hello-timeout", 1, 3600, [&](long v) { tcp.helloTimeout = std::chrono::seconds(v); }},
        {"idle-timeout", 1, 30L * 24 * 3600, [&](long v) { tcp.idleTimeout = std::chrono::seconds(v); }},
        {"http-connections", 1, 1000000, [&](long v) { http.accept.maxConnections = static_cast<int>(v); }},
        {"http-workers", 1, 10000, [&](long v) { http.workers = static_cast<int>(v); }},
        {"http-workers-per-address", 0, 10000, [&](long v) { http.workersPerAddress = static_cast<int>(v); }},
        {"http-least-rate", 0, 1L << 30, [&](long v) { http.leastRate = v; }},
        {"http-queue", 0, 1000000, [&](long v) { http.queue = static_cast<int>(v); }},
        {"http-timeout", 1, 3600, [&](long v) { http.timeout = std::chrono::seconds(v); }},
    };
    for (const Limit& limit : limits) {
        if (!options.count(limit.name)) continue;
        long value = 0;
        if (!parseNumber(options[limit.name], limit.lowest, limit.highest, value)) {
            return std::string("bad --") + limit.name + " \"" + options[limit.name] + "\": a whole number from " +
                   std::to_string(limit.lowest) + " to " + std::to_string(limit.highest);
        }
        limit.set(value);
    }
    return {};
}

// Raises the open-file limit as far as allowed and warns when the connection
// limits need more than that; connections beyond it are refused, not fatal.
void fitOpenFileLimit(const TcpLimits& tcp, const HttpLimits& http) {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
    if (limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
        getrlimit(RLIMIT_NOFILE, &limit);
    }
    // Each connection holds a socket; each download also an open file; a few dozen for everything else.
    rlim_t needed = static_cast<rlim_t>(tcp.accept.maxConnections) + http.accept.maxConnections + http.workers + 64;
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < needed) {
        logLine("open-file limit " + std::to_string(limit.rlim_cur) + " is below the " + std::to_string(needed) +
                " the connection limits may need; connections beyond it are refused");
    }
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

// The first option given that `known` does not hold, or empty.
std::string unknownOption(const std::map<std::string, std::string>& options, const std::set<std::string>& known) {
    for (const auto& [name, value] : options) {
        if (!known.count(name)) return name;
    }
    return {};
}

int serve(std::map<std::string, std::string> options) {
    const std::string unknown = unknownOption(options, {
        "root", "address", "scenario", "log", "tcp-port", "http-port", "max-connections", "max-per-address",
        "hello-timeout", "idle-timeout", "http-connections", "http-workers", "http-workers-per-address",
        "http-queue", "http-timeout", "http-least-rate"});
    if (!unknown.empty()) return fail("unknown option --" + unknown + " (see --help)");
    if (!options.count("root")) return fail("serve needs --root DIR (see --help)");
    std::string root = options["root"];
    std::error_code error;
    if (!std::filesystem::is_directory(root, error)) return fail("content folder " + root + " does not exist");
    std::string address = options.count("address") ? options["address"] : "127.0.0.1";
    int tcpPort = 9538, httpPort = 80;
    if (options.count("tcp-port") && !parsePort(options["tcp-port"], tcpPort)) return fail("bad --tcp-port");
    if (options.count("http-port") && !parsePort(options["http-port"], httpPort)) return fail("bad --http-port");
    TcpLimits tcpLimits;
    HttpLimits httpLimits;
    std::string badLimit = parseLimits(options, tcpLimits, httpLimits);
    if (!badLimit.empty()) return fail(badLimit);

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

    TcpService tcp(content, scenario, tcpLimits);
    HttpStore http(root, httpLimits);
    int code = 0;
    if (!tcp.listenOn(address, tcpPort, code)) return fail(bindAdvice(code, address, tcpPort));
    if (!http.listenOn(address, httpPort, code)) return fail(bindAdvice(code, address, httpPort));
    fitOpenFileLimit(tcpLimits, httpLimits);

    std::vector<std::string> skipped;
    content.patchNumbers(&skipped);
    for (const std::string& name : skipped) logLine("content skipped " + name + ": not a patch number");

    std::string problem;
    if (!http.start(problem)) return fail(problem);
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

// make-patch and release: what both need, beside their own `extra` options.
std::string patchOptionsProblem(const std::string& command, const std::map<std::string, std::string>& options,
                                const std::string& extra) {
    const std::string unknown = unknownOption(options, {"from", "to", "number", "root", "no-delta", extra});
    if (!unknown.empty()) return "unknown option --" + unknown + " (see --help)";
    for (const char* needed : {"from", "to", "number", "root"}) {
        if (!options.count(needed)) return command + " needs --from OLD --to NEW --number N --root DIR";
    }
    return {};
}

int makePatchCommand(std::map<std::string, std::string> options) {
    const std::string problem = patchOptionsProblem("make-patch", options, "files");
    if (!problem.empty()) return fail(problem);
    PatchResult result = makePatch(
        {options["from"], options["to"], options["number"], options["root"], !options.count("no-delta")});
    if (!result.error.empty()) return fail(result.error);
    std::cerr << "wrote " << result.archive << ": " << result.added.size() << " added, " << result.changed.size()
              << " changed (" << result.deltas.size() << " as deltas), version.dat " << options["number"] << "\n";
    for (const std::string& name : result.removed) {
        std::cerr << "warning: removed in the new folder, left in place by the patch: " << name << "\n";
    }
    if (options.count("files")) std::cout << formatFileList(result.entries) << std::flush;
    return 0;
}

// scripts/sign-store: named by STARFELL_SIGN_STORE, else found in a folder
// above this program's (a build inside the source tree).
std::string signStoreProgram() {
    if (const char* named = std::getenv("STARFELL_SIGN_STORE")) return named;
    std::error_code code;
    std::filesystem::path folder = std::filesystem::read_symlink("/proc/self/exe", code).parent_path();
    for (int up = 0; up < 5 && !folder.empty(); ++up, folder = folder.parent_path()) {
        const std::filesystem::path candidate = folder / "scripts" / "sign-store";
        if (std::filesystem::is_regular_file(candidate, code)) return candidate.string();
        if (folder == folder.parent_path()) break;
    }
    return "sign-store";
}

int releaseCommand(std::map<std::string, std::string> options) {
    const std::string problem = patchOptionsProblem("release", options, "secret-key");
    if (!problem.empty()) return fail(problem);
    ReleaseRequest request{options["from"], options["to"],         options["number"],
                           options["root"], options["secret-key"], signStoreProgram(),
                           !options.count("no-delta")};
    ReleaseResult result = makeRelease(request);
    if (!result.error.empty()) return fail(result.error);
    std::cerr << "released patch " << options["number"] << ": " << result.deltas << " file(s) as deltas, "
              << result.wholeFiles << " whole copies; proved over a copy of " << options["from"] << "\n";
    for (const std::string& path : result.published) std::cerr << "published " << path << "\n";
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
    if (command == "serve" || command == "manifest" || command == "make-patch" || command == "release") {
        if (!parseOptions(argc, argv, 2, options, error)) return fail(error);
        if (command == "make-patch") return makePatchCommand(options);
        if (command == "release") return releaseCommand(options);
        return command == "serve" ? serve(options) : manifest(options);
    }
    std::cerr << Usage;
    return 2;
}
