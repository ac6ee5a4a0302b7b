// Files the launcher writes over the game folder reach their names by rename
// only: a replaced file is never deleted first, and "version.dat" is never
// written in place. The kernel's own record of the folder (inotify) shows it.
#include <gtest/gtest.h>

#include <sys/inotify.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "base/file_platform.h"
#include "test_support.h"
#include "update/patches.h"
#include "update/version_store.h"
#include "zip_builder.h"

namespace starfell {
namespace {

// What happened to names in one folder, as "deleted x", "created x", "renamed to x".
class FolderEvents {
public:
    explicit FolderEvents(const std::filesystem::path& folder) : descriptor_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        inotify_add_watch(descriptor_, folder.c_str(), IN_CREATE | IN_DELETE | IN_MOVED_TO);
    }
    ~FolderEvents() { close(descriptor_); }

    std::vector<std::string> read() {
        std::vector<std::string> events;
        alignas(inotify_event) char buffer[64 * 1024];
        for (ssize_t length; (length = ::read(descriptor_, buffer, sizeof buffer)) > 0;) {
            for (char* at = buffer; at < buffer + length;) {
                const auto* event = reinterpret_cast<const inotify_event*>(at);
                const std::string name = event->len ? event->name : "";
                if (event->mask & IN_DELETE) events.push_back("deleted " + name);
                if (event->mask & IN_CREATE) events.push_back("created " + name);
                if (event->mask & IN_MOVED_TO) events.push_back("renamed to " + name);
                at += sizeof(inotify_event) + event->len;
            }
        }
        return events;
    }

private:
    int descriptor_;
};

std::vector<std::string> matching(const std::vector<std::string>& events, const std::string& name) {
    std::vector<std::string> found;
    for (const std::string& event : events)
        if (event.size() > name.size() && event.compare(event.size() - name.size() - 1, std::string::npos, " " + name) == 0)
            found.push_back(event);
    return found;
}

TEST(RenamedIntoPlace, ReplacedReadOnlyFileIsNeverMissingAndTheVersionFileComesLast) {
    test::ScratchFolder game, staging;
    test::writeFile(game.path() / "client.dat", "old client");
    ASSERT_TRUE(fs::setAttributes(game.narrow() + "client.dat", fs::kReadOnly));
    test::writeFile(game.path() / "version.dat", "1000");
    const std::string big = test::patternBytes(1024 * 1024);
    const std::string archive = staging.narrow() + "1001.zip";
    test::writeFile(archive, test::ZipBuilder().file("version.dat", "1001").file("client.dat", big).bytes());

    FolderEvents events(game.path());
    ASSERT_TRUE(extractArchive(archive, game.narrow()));
    const std::vector<std::string> seen = events.read();

    EXPECT_EQ(matching(seen, "client.dat"), std::vector<std::string>{"renamed to client.dat"});
    EXPECT_EQ(matching(seen, "version.dat"), std::vector<std::string>{"renamed to version.dat"});
    EXPECT_EQ(seen.back(), "renamed to version.dat");
    EXPECT_EQ(test::readFile(game.path() / "client.dat"), big);
    EXPECT_TRUE(fs::getAttributes(game.narrow() + "client.dat") & fs::kReadOnly);
    EXPECT_EQ(test::readFile(game.path() / "version.dat"), "1001");
}

// Enough files for several flush batches, one of them named twice: the
// renames follow the archive's order across batches, the later copy wins,
// and no temporary name is left behind.
TEST(RenamedIntoPlace, BatchedFilesAreRenamedInEntryOrder) {
    test::ScratchFolder game, staging;
    test::ZipBuilder zip;
    zip.file("version.dat", "1001");
    std::vector<std::string> order;
    for (int i = 0; i < 600; ++i) {
        const std::string name = "f" + std::to_string((i * 7919) % 600) + ".dat";
        zip.file(name, i == 0 ? "first copy" : name);
        order.push_back("renamed to " + name);
    }
    zip.file("f0.dat", "second copy");
    order.push_back("renamed to f0.dat");
    order.push_back("renamed to version.dat");
    const std::string archive = staging.narrow() + "1001.zip";
    test::writeFile(archive, zip.bytes());

    FolderEvents events(game.path());
    ASSERT_TRUE(extractArchive(archive, game.narrow()));
    std::vector<std::string> renames;
    for (const std::string& event : events.read())
        if (event.rfind("renamed to ", 0) == 0) renames.push_back(event);

    EXPECT_EQ(renames, order);
    EXPECT_EQ(test::readFile(game.path() / "f0.dat"), "second copy");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(game.path()), std::filesystem::directory_iterator()),
              601);
}

TEST(RenamedIntoPlace, FreshVersionFileIsWrittenBesideAndRenamed) {
    test::ScratchFolder game;
    FolderEvents events(game.path());
    EXPECT_EQ(readInstalledVersionIn(game.narrow()), "1000");
    EXPECT_EQ(matching(events.read(), "version.dat"), std::vector<std::string>{"renamed to version.dat"});
    EXPECT_EQ(test::readFile(game.path() / "version.dat"), "1000");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(game.path()), std::filesystem::directory_iterator()), 1);
}

}  // namespace
}  // namespace starfell
