#include "SharedSecret.h"

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <set>
#include <thread>

#include "Protocol.h"
#include "platform/BackgroundQueue.h"
#include "platform/SodiumCrypto.h"

namespace linkmoot {
namespace {

using namespace std::string_literals;

// The worked example of docs/protocol.md. The key was checked against an
// independent Argon2id tool, the macs against another HMAC-SHA-256.
constexpr const char* kSecret = "correct horse battery staple";
constexpr const char* kKeyHex = "9a021aeae94f757fbb76fb99a6cdfc5293fc0dce798660ad0d2c1c27ec85f31a";
const std::string kSignedVote =
    "vote:WS01\0t=1700000000000,mac=bc7e6ae74c48cfcdf3a936329aacc486de983d17f26af877b67e641b79b24fb1"s;
const std::string kSignedAnswer =
    "state:v=2,line=dialling,votes=1,you=1,up=0,echo=1700000000000,t=1700000000950,"
    "mac=5ae9fa78c47ccd33a656fb72691a9e2d57b13e0f151ffd5725f7c75fb827c47e";

/// Derived once for the whole program: a derivation costs 64 MiB and a good
/// part of a second.
const ProtocolKey& exampleKey() {
    static const std::unique_ptr<ProtocolKey> key = [] {
        std::string error;
        auto derived = ProtocolKey::derive(sodiumCrypto(), kSecret, error);
        EXPECT_TRUE(derived) << error;
        return derived;
    }();
    return *key;
}

TEST(SharedSecretTest, WorkedExampleOfTheDocumentation) {
    const ProtocolKey& key = exampleKey();
    EXPECT_EQ(key.keyHex(), kKeyHex);
    EXPECT_EQ(protocol::buildRequest(protocol::Verb::Vote, "WS01", &key, 1700000000000ull),
              kSignedVote);
    protocol::LineReport report;
    report.line = protocol::Line::Dialling;
    report.votes = 1;
    report.you = true;
    EXPECT_EQ(protocol::buildAnswer(report, &key, 1700000000000ull, 1700000000950ull),
              kSignedAnswer);
}

TEST(SharedSecretTest, AnyChangedByteOrAnotherKeyFailsVerification) {
    const ProtocolKey& key = exampleKey();
    unsigned char otherBytes[ProtocolKey::kBytes] = {1};
    auto other = ProtocolKey::fromBytes(sodiumCrypto(), otherBytes);
    ASSERT_TRUE(other);

    protocol::Request request;
    ASSERT_EQ(protocol::parseRequest(kSignedVote, request), protocol::RequestError::None);
    ASSERT_TRUE(key.verify(request.signedBytes, request.mac));
    EXPECT_FALSE(other->verify(request.signedBytes, request.mac));

    for (std::size_t i = 0; i < kSignedVote.size(); i++) {
        std::string tampered = kSignedVote;
        tampered[i] = static_cast<char>(tampered[i] ^ 0x01);
        if (protocol::parseRequest(tampered, request) != protocol::RequestError::None ||
            request.signing != protocol::Signing::Signed) {
            continue;  // no longer a signed request at all
        }
        EXPECT_FALSE(key.verify(request.signedBytes, request.mac)) << "byte " << i;
    }
    // Only exactly 64 lowercase hex digits are a mac.
    const std::string message = "vote:WS01\0t=1700000000000"s;
    const std::string mac = key.macHex(message);
    EXPECT_TRUE(key.verify(message, mac));
    std::string upper = mac;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_FALSE(key.verify(message, upper));
    EXPECT_FALSE(key.verify(message, mac.substr(0, 63)));
    EXPECT_FALSE(key.verify(message, ""));
}

TEST(SharedSecretTest, StoreDerivesOffTheLoopKeepsOnlyTheNewestSecretAndSwitchesOff) {
    const std::string message = "query:WS01\0t=5"s;
    const std::string expected = exampleKey().macHex(message);
    auto waitForKey = [](KeyStore& store) {
        for (int i = 0; i < 1200 && store.pending(); i++) {
            store.update();
            if (store.pending())
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    };

    BackgroundQueue worker;
    KeyStore store(&sodiumCrypto(), &worker);
    EXPECT_FALSE(store.configured());
    store.setSecret("an older secret that was replaced at once");
    store.setSecret(kSecret);
    EXPECT_TRUE(store.pending());
    EXPECT_EQ(store.key(), nullptr);
    waitForKey(store);
    ASSERT_NE(store.key(), nullptr) << store.error();
    EXPECT_EQ(store.key()->macHex(message), expected);

    const ProtocolKey* kept = store.key();
    store.setSecret(kSecret);  // the same secret: no new derivation, the same key
    EXPECT_FALSE(store.pending());
    EXPECT_EQ(store.key(), kept);

    store.setSecret("");
    EXPECT_FALSE(store.configured());
    EXPECT_EQ(store.key(), nullptr);
    store.setSecret("a third secret, left deriving while the store goes");
    EXPECT_TRUE(store.pending());
}

TEST(SharedSecretTest, GeneratedSecretsAreLongEnoughAndDiffer) {
    std::set<std::string> seen;
    for (int i = 0; i < 20; i++) {
        const std::string secret = generateSecret(sodiumCrypto());
        EXPECT_EQ(secret.size(), 24u);
        EXPECT_GE(secretCharacters(secret), kMinSecretCharacters);
        for (char c : secret)
            EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c))) << secret;
        seen.insert(secret);
    }
    EXPECT_EQ(seen.size(), 20u);
    // Characters, not bytes: fifteen umlauts are 30 bytes and still too short.
    EXPECT_EQ(secretCharacters("\xC3\xA4\xC3\xB6\xC3\xBC"), 3u);
}

}  // namespace
}  // namespace linkmoot
