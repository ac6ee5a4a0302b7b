// Packet layouts both ways, bounded readers, the dispatch gate and the News handler.
#include <gtest/gtest.h>

#include <vector>

#include "core/packet.h"
#include "core/server_connection.h"

namespace starfell {
namespace {

std::string bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) out.push_back(static_cast<char>(v));
    return out;
}

std::string textField(const std::string& text) { return std::string(1, static_cast<char>(text.size())) + text; }

std::string newsPacket(const std::vector<std::string>& lines) {
    std::string packet = bytes({0xE8, 0x03, 0, 0, static_cast<int>(lines.size())});
    for (const auto& line : lines) packet += textField(line);
    return packet;
}

TEST(PacketType, LittleEndianAtOffsetZero) {
    std::uint32_t type = 0;
    EXPECT_TRUE(readPacketType(bytes({0xE9, 0x03, 0x00, 0x00}), type));
    EXPECT_EQ(type, 1001u);
    EXPECT_TRUE(readPacketType(bytes({0xEB, 0x03, 0x00, 0x00, 0xFF}), type));
    EXPECT_EQ(type, 1003u);
    EXPECT_FALSE(readPacketType(bytes({0xE9, 0x03, 0x00}), type));  // shorter than a type word
    EXPECT_FALSE(readPacketType("", type));
}

TEST(OutgoingPackets, HelloLayoutWithDigestAndWithNone) {
    std::string hello(kHelloSize, '\0');
    writePacketType(hello, PacketType::Hello);
    std::size_t position = 4;
    appendString(hello, position, "0123456789abcdef0123456789abcdef");
    EXPECT_EQ(position, 37u);
    EXPECT_EQ(hello.size(), 150u);
    EXPECT_EQ(hello.substr(0, 5), bytes({0xE9, 0x03, 0, 0, 32}));
    EXPECT_EQ(hello.substr(5, 32), "0123456789abcdef0123456789abcdef");
    EXPECT_EQ(hello.substr(37), std::string(113, '\0'));

    std::string none(kHelloSize, '\0');
    position = 4;
    appendString(none, position, "None");
    EXPECT_EQ(none[4], 4);
    EXPECT_EQ(none.substr(5, 4), "None");
    EXPECT_EQ(none.substr(9), std::string(141, '\0'));
}

TEST(OutgoingPackets, AppendStringNeverWritesPastTheEnd) {
    std::string small(6, '\0');
    std::size_t position = 4;
    appendString(small, position, "abcdef");
    EXPECT_EQ(small.size(), 6u);
    EXPECT_EQ(small[4], 6);
    EXPECT_EQ(small[5], 'a');
    EXPECT_EQ(position, 11u);
    position = 20;  // already past the end: nothing is written
    appendString(small, position, "x");
    EXPECT_EQ(small.size(), 6u);
}

TEST(ReadString, StopsAtTheBlockEdgeAndAtNul) {
    const std::string packet = bytes({0xEA, 0x03, 0, 0, 4}) + "1001";
    EXPECT_EQ(readString(packet, 5, 4), "1001");
    EXPECT_EQ(readString(packet, 5, 200), "1001");  // length past the end: cut at the edge
    EXPECT_EQ(readString(packet, 8, 1), "1");
    EXPECT_EQ(readString(packet, 9, 1), "");        // exactly at the end
    EXPECT_EQ(readString(packet, 500, 3), "");      // far past the end
    EXPECT_EQ(readString(std::string("ab\0cd", 5), 0, 5), "ab");
}

TEST(PacketReader, NulEndsTheTextButTheNextFieldFollowsTheDeclaredLength) {
    const std::string packet = bytes({1, 2, 3, 4, 5}) + textField(std::string("ab\0cd", 5)) + textField("next");
    PacketReader reader(packet, 5);
    std::string first, second;
    ASSERT_TRUE(reader.readText(first));
    ASSERT_TRUE(reader.readText(second));
    EXPECT_EQ(first, "ab");
    EXPECT_EQ(second, "next");
}

TEST(PacketReader, ALengthPastTheEndStopsEveryLaterRead) {
    const std::string packet = bytes({0, 0, 0, 0}) + textField("ok") + bytes({10}) + "short";
    PacketReader reader(packet, 4);
    std::string text;
    EXPECT_TRUE(reader.readText(text));
    EXPECT_EQ(text, "ok");
    EXPECT_FALSE(reader.readText(text));
    EXPECT_FALSE(reader.ok());
    std::uint8_t byte = 0;
    EXPECT_FALSE(reader.readByte(byte));
}

TEST(ParseNews, CountsLinesAndKeepsWhatWasComplete) {
    LauncherState state;
    parseNews(newsPacket({}), state);
    EXPECT_TRUE(state.newsItems().empty());

    parseNews(newsPacket({"first", "second"}), state);
    parseNews(newsPacket({"third", ""}), state);
    EXPECT_EQ(state.newsItems(), std::vector<std::string>({"first", "second", "third", ""}));

    LauncherState cut;
    std::string packet = newsPacket({"kept", "lost line"});
    packet.resize(packet.size() - 3);  // the second line runs past the block
    parseNews(packet, cut);
    EXPECT_EQ(cut.newsItems(), std::vector<std::string>({"kept"}));

    LauncherState overCount;
    packet = newsPacket({"one"});
    packet[4] = static_cast<char>(200);  // count larger than the lines present
    parseNews(packet, overCount);
    EXPECT_EQ(overCount.newsItems(), std::vector<std::string>({"one"}));

    LauncherState noCount;
    parseNews(bytes({0xE8, 0x03, 0, 0}), noCount);
    EXPECT_TRUE(noCount.newsItems().empty());
}

// Records the calls the dispatch makes.
struct Calls {
    std::vector<std::string> log;
};
Calls* calls = nullptr;

PacketHandlers recordingHandlers() {
    return PacketHandlers{
        [](const std::string& p) { calls->log.push_back("hello:" + p.substr(5)); },
        [](const std::string&) { calls->log.push_back("news"); },
        [](const std::string&) { calls->log.push_back("patchlist"); },
        [](const std::string&) { calls->log.push_back("filecheck"); },
        [] { calls->log.push_back("report"); },
    };
}

TEST(DispatchPacket, OnlyAHelloAnswerPassesTheGateAndOnlyOnce) {
    Calls record;
    calls = &record;
    LauncherState state;
    const PacketHandlers handlers = recordingHandlers();

    dispatchPacket(newsPacket({"early"}), handlers, state);
    dispatchPacket(bytes({0xEA, 0x03, 0, 0, 0}), handlers, state);
    dispatchPacket(bytes({0xEB, 0x03, 0, 0, 0, 0}), handlers, state);
    dispatchPacket(bytes({0xE9, 0x03}), handlers, state);  // too short to carry a type
    EXPECT_TRUE(record.log.empty());
    EXPECT_EQ(state.authorised.load(), 0);

    dispatchPacket(bytes({0xE9, 0x03, 0, 0, 4}) + "true", handlers, state);
    EXPECT_EQ(state.authorised.load(), 1);
    dispatchPacket(bytes({0xE9, 0x03, 0, 0, 5}) + "false", handlers, state);  // second answer dropped
    EXPECT_EQ(record.log, std::vector<std::string>({"hello:true"}));
}

TEST(DispatchPacket, AfterAuthorisationEachTypeReachesItsHandler) {
    Calls record;
    calls = &record;
    LauncherState state;
    state.authorised = 1;
    const PacketHandlers handlers = recordingHandlers();

    dispatchPacket(newsPacket({"a"}), handlers, state);
    dispatchPacket(bytes({0xEA, 0x03, 0, 0, 0}), handlers, state);  // empty patch list
    dispatchPacket(bytes({0xEA, 0x03, 0, 0, 4}) + "1001", handlers, state);
    dispatchPacket(bytes({0xEB, 0x03, 0, 0, 0, 0}), handlers, state);
    dispatchPacket(bytes({0xD2, 0x04, 0, 0}), handlers, state);  // unknown type 1234
    dispatchPacket(bytes({0xE8, 0x03, 0, 1}), handlers, state);  // type 0x010003E8, not News
    EXPECT_EQ(record.log, std::vector<std::string>(
                              {"news", "patchlist", "report", "patchlist", "report", "filecheck"}));
}

// A send that takes only part of the packet, as a full socket buffer would.
long shortSend(std::intptr_t, const char*, std::size_t length) { return static_cast<long>(length) - 1; }
long fullSend(std::intptr_t, const char*, std::size_t length) { return static_cast<long>(length); }

TEST(SendPacket, ShortSendsAreCountedAndTheTenthEndsTheProcess) {
    setSendFunction(&fullSend);
    launcherState.sendFailures = 0;
    sendPatchDone();
    EXPECT_EQ(launcherState.sendFailures.load(), 0);

    setSendFunction(&shortSend);
    for (int i = 0; i < 9; ++i) sendPatchDone();
    EXPECT_EQ(launcherState.sendFailures.load(), 9);
    EXPECT_EXIT(sendPatchDone(), ::testing::ExitedWithCode(0), "");
    setSendFunction(nullptr);
    launcherState.sendFailures = 0;
}

}  // namespace
}  // namespace starfell
