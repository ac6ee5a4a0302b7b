// Signature checks against signatures made by the real minisign (fixtures from
// make_signature_fixtures.sh): both algorithms pass, every kind of forgery or
// damage gets its own verdict, and the parser refuses near-misses of the format.
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
    SignatureVerdict check(const std::string& signatureText, const std::string& name = "payload.bin") {
        return checkSignature(test::wideOf(folder_.path() / "payload.bin"), signatureText, name);
    }
    void damagePayload() {
        std::string bytes = payload();
        bytes[bytes.size() / 2] ^= 0x01;
        test::writeFile(folder_.path() / "payload.bin", bytes);
    }

    test::ScratchFolder folder_;
};

TEST_F(Signature, MinisignSignaturesOfBothAlgorithmsPass) {
    EXPECT_TRUE(updateKeyBuiltIn());
    EXPECT_EQ(check(k_prehashed_signature), SignatureVerdict::Good);
    EXPECT_EQ(check(k_legacy_signature), SignatureVerdict::Good);
    // The final newline is optional.
    std::string unterminated = k_prehashed_signature;
    unterminated.pop_back();
    EXPECT_EQ(check(unterminated), SignatureVerdict::Good);
}

TEST_F(Signature, ForgeriesAndDamageGetTheirVerdict) {
    EXPECT_EQ(check(k_other_key_signature), SignatureVerdict::OtherKey);
    EXPECT_EQ(check(k_other_file_signature), SignatureVerdict::OtherFile);
    // A genuine signature does not pass for a file of another name either.
    EXPECT_EQ(check(k_prehashed_signature, "1001.zip"), SignatureVerdict::OtherFile);
    EXPECT_EQ(check(k_prehashed_signature, "payload.bin.exe"), SignatureVerdict::OtherFile);

    // The trusted comment is signed: another name or time in it breaks the global signature.
    std::string renamed = k_prehashed_signature;
    renamed.replace(renamed.find("file:payload.bin"), 16, "file:1001.zip\t\t\t");
    EXPECT_EQ(check(renamed, "1001.zip"), SignatureVerdict::BadSignature);
    std::string retimed = k_legacy_signature;
    retimed[retimed.find("timestamp:") + 10] ^= 0x01;
    EXPECT_EQ(check(retimed), SignatureVerdict::BadSignature);

    EXPECT_EQ(check(""), SignatureVerdict::Missing);
    const std::string whole = k_prehashed_signature;
    EXPECT_EQ(check(whole.substr(0, whole.size() / 2)), SignatureVerdict::Malformed);
    EXPECT_EQ(check(test::patternBytes(300)), SignatureVerdict::Malformed);
    EXPECT_EQ(check(whole + std::string(1024 * 1024, '\n')), SignatureVerdict::Malformed);

    EXPECT_EQ(checkSignature(test::wideOf(folder_.path() / "absent.bin"), k_prehashed_signature, "absent.bin"),
              SignatureVerdict::UnreadableFile);

    damagePayload();
    EXPECT_EQ(check(k_prehashed_signature), SignatureVerdict::BadSignature);
    EXPECT_EQ(check(k_legacy_signature), SignatureVerdict::BadSignature);
}

// Near-misses of the format that a lenient reader would take.
TEST(MinisignFormat, RefusesNearMisses) {
    const std::string good = k_prehashed_signature;
    minisign::Signature parsed;
    ASSERT_TRUE(minisign::parseSignature(good, parsed));
    EXPECT_EQ(parsed.algorithm, minisign::Algorithm::Prehashed);

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

TEST(MinisignFormat, TrustedCommentNamesExactlyOneFile) {
    EXPECT_TRUE(minisign::commentNamesFile("timestamp:1\tfile:1001.zip\thashed", "1001.zip"));
    EXPECT_TRUE(minisign::commentNamesFile("timestamp:1\tfile:1001.zip", "1001.zip"));
    EXPECT_FALSE(minisign::commentNamesFile("timestamp:1\tfile:1001.zip.old", "1001.zip"));
    EXPECT_FALSE(minisign::commentNamesFile("timestamp:1\tfile:1001.zip\tfile:1002.zip", "1002.zip"));
    EXPECT_FALSE(minisign::commentNamesFile("timestamp:1 file:1001.zip", "1001.zip"));
    EXPECT_FALSE(minisign::commentNamesFile("timestamp:1\tfile:", ""));
}

}  // namespace
}  // namespace starfell
