// Signature checks against signatures made by the real minisign (fixtures from
// make_signature_fixtures.sh): a signature for the file's place passes, every
// kind of forgery, damage or misplacement gets its own verdict, and the parser
// refuses near-misses of the format.
#include <gtest/gtest.h>

#include <string>

#include "signature_fixtures.h"
#include "test_support.h"
#include "update/minisign_format.h"
#include "update/signature.h"

namespace starfell {
namespace {

std::string payload() {
    std::string text;
    for (int i = 1; i <= 5000; ++i) text += "Starfell signed payload line " + std::to_string(i) + "\n";
    return text;
}

class Signature : public ::testing::Test {
protected:
    void SetUp() override {
        minisign::PublicKey testKey;
        ASSERT_TRUE(minisign::parsePublicKey(k_test_key_line, testKey));
        if (updateKeyId() != minisign::keyIdText(testKey.keyId)) {
            GTEST_SKIP() << "this build does not trust the test key (key built in: '" << updateKeyId() << "')";
        }
        test::writeFile(folder_.path() / "payload.bin", payload());
    }
    SignatureVerdict check(const std::string& signatureText, const std::string& storePath = "data/payload.bin") {
        return checkSignature(test::wideOf(folder_.path() / "payload.bin"), signatureText, storePath);
    }
    void damagePayload() {
        std::string bytes = payload();
        bytes[bytes.size() / 2] ^= 0x01;
        test::writeFile(folder_.path() / "payload.bin", bytes);
    }

    test::ScratchFolder folder_;
};

TEST_F(Signature, SignatureForTheFilesPlacePasses) {
    EXPECT_TRUE(updateKeyBuiltIn());
    std::string comment;
    EXPECT_EQ(checkSignature(test::wideOf(folder_.path() / "payload.bin"), k_prehashed_signature, "data/payload.bin",
                             nullptr, &comment),
              SignatureVerdict::Good);
    EXPECT_NE(comment.find("\tpath:data/payload.bin\t"), std::string::npos) << comment;
    // The final newline is optional.
    std::string unterminated = k_prehashed_signature;
    unterminated.pop_back();
    EXPECT_EQ(check(unterminated), SignatureVerdict::Good);
}

TEST_F(Signature, ForgeriesAndDamageGetTheirVerdict) {
    EXPECT_EQ(check(k_other_key_signature), SignatureVerdict::OtherKey);
    EXPECT_EQ(check(k_other_file_signature), SignatureVerdict::OtherFile);
    // A genuine signature of these very bytes, for another place or none.
    EXPECT_EQ(check(k_other_place_signature), SignatureVerdict::OtherFile);
    EXPECT_EQ(check(k_no_path_signature), SignatureVerdict::OtherFile);
    EXPECT_EQ(check(k_prehashed_signature, "patches/payload.bin"), SignatureVerdict::OtherFile);
    EXPECT_EQ(check(k_prehashed_signature, "data/payload.bin.exe"), SignatureVerdict::OtherFile);
    // Legacy signatures are not taken, nor a prehashed one relabelled as
    // legacy (which would pass the file's 64-byte digest for the file).
    EXPECT_EQ(check(k_legacy_signature), SignatureVerdict::Malformed);
    EXPECT_EQ(check(k_relabelled_signature), SignatureVerdict::Malformed);

    // The trusted comment is signed: another name or time in it breaks the global signature.
    std::string moved = k_prehashed_signature;
    moved.replace(moved.find("path:data/payload.bin"), 21, "path:data/payload.bi0");
    EXPECT_EQ(check(moved, "data/payload.bi0"), SignatureVerdict::BadSignature);
    std::string retimed = k_prehashed_signature;
    retimed[retimed.find("timestamp:") + 10] ^= 0x01;
    EXPECT_EQ(check(retimed), SignatureVerdict::BadSignature);

    EXPECT_EQ(check(""), SignatureVerdict::Missing);
    const std::string whole = k_prehashed_signature;
    EXPECT_EQ(check(whole.substr(0, whole.size() / 2)), SignatureVerdict::Malformed);
    EXPECT_EQ(check(test::patternBytes(300)), SignatureVerdict::Malformed);
    EXPECT_EQ(check(whole + std::string(1024 * 1024, '\n')), SignatureVerdict::Malformed);

    EXPECT_EQ(checkSignature(test::wideOf(folder_.path() / "absent.bin"), k_prehashed_signature, "data/payload.bin"),
              SignatureVerdict::UnreadableFile);

    damagePayload();
    EXPECT_EQ(check(k_prehashed_signature), SignatureVerdict::BadSignature);
}

// Near-misses of the format that a lenient reader would take.
TEST(MinisignFormat, RefusesNearMisses) {
    const std::string good = k_prehashed_signature;
    minisign::Signature parsed;
    ASSERT_TRUE(minisign::parseSignature(good, parsed));

    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string text = good;
        text.replace(text.find(from), from.size(), to);
        return text;
    };
    const std::string signatureLine = good.substr(good.find('\n') + 1, 100);
    const std::string rejected[] = {
        good + "\n",                                          // a second final newline
        replaced("\n", "\r\n"),                               // CR line ends
        replaced("untrusted comment: ", "untrusted comment:"),
        replaced("trusted comment: timestamp", "trusted comment: \x01timestamp"),
        replaced(signatureLine, signatureLine.substr(0, 98) + "B="),  // non-canonical padding bits
        replaced(signatureLine, signatureLine.substr(0, 99) + "A"),   // padding missing
        replaced(signatureLine, signatureLine + "AAAA"),              // too long
        replaced(signatureLine, "RX" + signatureLine.substr(2)),      // unknown algorithm bytes
        "trusted comment: x\n" + good.substr(good.find('\n') + 1),  // lines out of order
    };
    for (const std::string& text : rejected) EXPECT_FALSE(minisign::parseSignature(text, parsed)) << text;
}

TEST(MinisignFormat, TrustedCommentBindsExactlyOnePlace) {
    namespace ms = minisign;
    const char* path = "patches/Launcher/data/x.dat";
    EXPECT_TRUE(ms::commentBindsStorePath("timestamp:1\tfile:x.dat\tpath:patches/Launcher/data/x.dat\thashed", path));
    EXPECT_FALSE(ms::commentBindsStorePath("timestamp:1\tfile:x.dat\thashed", path));
    EXPECT_FALSE(ms::commentBindsStorePath("timestamp:1\tfile:y.dat\tpath:patches/Launcher/data/x.dat", path));
    EXPECT_FALSE(ms::commentBindsStorePath("file:x.dat\tpath:patches/Launcher/x.dat", path));
    EXPECT_FALSE(ms::commentBindsStorePath("file:x.dat\tpath:patches/Launcher/data/x.dat\tpath:data/x.dat", path));
    EXPECT_FALSE(ms::commentBindsStorePath("file:x.dat\tfile:x.dat\tpath:patches/Launcher/data/x.dat", path));
    EXPECT_FALSE(ms::commentBindsStorePath("file:x.dat path:patches/Launcher/data/x.dat", path));
    EXPECT_FALSE(ms::commentBindsStorePath("file:\tpath:patches/", "patches/"));
    std::string build;
    EXPECT_TRUE(ms::commentField("timestamp:1\tbuild:42\thashed", "build", build));
    EXPECT_EQ(build, "42");
    EXPECT_FALSE(ms::commentField("build:42\tbuild:43", "build", build));
    EXPECT_FALSE(ms::commentField("rebuild:42", "build", build));
}

}  // namespace
}  // namespace starfell
