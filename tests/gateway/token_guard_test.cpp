// The wrong-token back-off: its schedule per address with a clock stepped by
// hand, then a client guessing over the text protocol and the web remote's
// bearer header, where the right token and other addresses must not wait.
#include "gateway/http_client.h"
#include "gateway/token_guard.h"
#include "gateway_fixture.h"

#include <QNetworkReply>
#include <QNetworkRequest>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using namespace tk770;
using namespace tk770::testing;
using namespace std::chrono_literals;

namespace {

const QHostAddress guesser(QStringLiteral("192.0.2.7"));
const QHostAddress neighbour(QStringLiteral("192.0.2.8"));

struct ManualClock {
    TokenGuard::Clock::time_point now{};
    std::function<TokenGuard::Clock::time_point()> source()
    {
        return [this] { return now; };
    }
};

TEST(TokenGuardSchedule, EachWrongTokenDoublesTheWaitUpToTheCeiling)
{
    ManualClock clock;
    TokenGuard guard("right-token", {}, clock.source());
    const std::chrono::milliseconds expected[] = {200ms, 400ms, 800ms, 1600ms, 3200ms, 5000ms, 5000ms, 5000ms};
    for (const auto wait : expected) {
        const auto verdict = guard.check(guesser, "wrong-token");
        EXPECT_FALSE(verdict.accepted);
        EXPECT_EQ(verdict.wait, wait);
        clock.now += 1s;
    }
    EXPECT_EQ(guard.failures(guesser), 8);
}

TEST(TokenGuardSchedule, RightTokenIsTakenAtOnceAndClearsItsAddress)
{
    ManualClock clock;
    TokenGuard guard("right-token", {}, clock.source());
    for (int i = 0; i < 4; ++i) guard.check(guesser, "right-tokem");
    // Neither a prefix nor a longer text is the token.
    EXPECT_FALSE(guard.check(guesser, "right-toke").accepted);
    EXPECT_FALSE(guard.check(guesser, "right-token ").accepted);
    const auto right = guard.check(guesser, "right-token");
    EXPECT_TRUE(right.accepted);
    EXPECT_EQ(right.wait, 0ms);
    EXPECT_EQ(guard.failures(guesser), 0);
    EXPECT_EQ(guard.check(guesser, "wrong").wait, 200ms) << "a fresh start after the right token";
}

TEST(TokenGuardSchedule, AddressesAreCountedApartAndOneHostIsOneAddress)
{
    ManualClock clock;
    TokenGuard guard("right-token", {}, clock.source());
    for (int i = 0; i < 5; ++i) guard.check(guesser, "wrong");
    EXPECT_EQ(guard.check(neighbour, "wrong").wait, 200ms) << "another address is not slowed";
    // The same host seen through an IPv6 listener.
    EXPECT_EQ(guard.check(QHostAddress(QStringLiteral("::ffff:192.0.2.7")), "wrong").wait, 5000ms);
    EXPECT_EQ(guard.failures(guesser), 6);
}

TEST(TokenGuardSchedule, AQuietAddressIsForgottenAndTheTableIsBounded)
{
    ManualClock clock;
    TokenBackoff timing;
    timing.forget = 10min;
    timing.maxPeers = 2;
    TokenGuard guard("right-token", timing, clock.source());
    for (int i = 0; i < 3; ++i) guard.check(guesser, "wrong");
    clock.now += 9min;
    EXPECT_EQ(guard.check(guesser, "wrong").wait, 1600ms) << "not quiet long enough";
    clock.now += 10min;
    EXPECT_EQ(guard.failures(guesser), 0);
    EXPECT_EQ(guard.check(guesser, "wrong").wait, 200ms);

    // Full: a new address pushes out the one wrong the longest time ago.
    clock.now += 1s;
    guard.check(neighbour, "wrong");
    clock.now += 1s;
    guard.check(QHostAddress(QStringLiteral("192.0.2.9")), "wrong");
    EXPECT_EQ(guard.failures(guesser), 0);
    EXPECT_EQ(guard.failures(neighbour), 1);
}

TEST(TokenGuardSchedule, WithoutATokenEveryoneIsLetIn)
{
    TokenGuard guard;
    EXPECT_FALSE(guard.required());
    EXPECT_TRUE(guard.check(guesser, "").accepted);
    EXPECT_TRUE(guard.check(guesser, "anything").accepted);
}

// ------------------------------------------------------------ text protocol

// A text client from a loopback address of its choosing.
std::unique_ptr<TextClient> clientFrom(const QString& address, quint16 port)
{
    auto client = std::make_unique<TextClient>();
    if (!client->socket().bind(QHostAddress(address), 0)) return nullptr;
    if (!client->connectTo(port)) return nullptr;
    return client;
}

TEST(TextTokenBackoff, GuessesWaitLongerPerAddressWhileTheRightTokenAndOthersDoNot)
{
    GatewayOptions options = loopbackOptions();
    options.token = "s3cret-Token";
    InProcessGateway gw(options);
    ASSERT_TRUE(gw.start());
    const TokenGuard& guard = gw.gateway->commands().tokenGuard();

    // Three guesses, one connection each (a wrong token ends it).
    for (int i = 0; i < 3; ++i) {
        auto guess = clientFrom(QStringLiteral("127.0.0.1"), gw.textPort());
        ASSERT_TRUE(guess);
        guess->send("auth s3cret-Tokem\r\n");
        EXPECT_EQ(guess->line(8000), "ERR auth required");
        EXPECT_TRUE(guess->closedWithin(3000));
    }
    EXPECT_EQ(guard.failures(QHostAddress(QStringLiteral("127.0.0.1"))), 3);

    // The fourth guess is held back 1.6 s; meanwhile the right token from
    // the same address and a guess from another address are answered.
    auto held = clientFrom(QStringLiteral("127.0.0.1"), gw.textPort());
    ASSERT_TRUE(held);
    held->send("auth s3cret-Tokem\r\nvolume ?\r\n");
    ASSERT_TRUE(waitUntil([&] { return guard.failures(QHostAddress(QStringLiteral("127.0.0.1"))) == 4; }));

    auto other = clientFrom(QStringLiteral("127.0.0.2"), gw.textPort());
    ASSERT_TRUE(other) << "no second loopback address to send from";
    other->send("auth nope\r\n");
    EXPECT_EQ(other->line(), "ERR auth required");
    EXPECT_EQ(guard.failures(QHostAddress(QStringLiteral("127.0.0.2"))), 1);

    auto right = clientFrom(QStringLiteral("127.0.0.1"), gw.textPort());
    ASSERT_TRUE(right);
    EXPECT_EQ(right->ask("auth s3cret-Token"), "OK");
    EXPECT_EQ(right->ask("volume ?"), "OK 7.0");
    EXPECT_FALSE(held->hasLine()) << "the guess made before is still waiting";

    EXPECT_EQ(held->line(5000), "ERR auth required");
    EXPECT_TRUE(held->closedWithin(3000));
    EXPECT_FALSE(held->hasLine()) << "no line after a wrong token is answered";
}

// ------------------------------------------------------------ web remote

TEST(HttpTokenBackoff, WrongBearerTokensWaitAndTheRightOneDoesNot)
{
    GatewayPair gateway;
    if (!GatewayPair::available()) GTEST_SKIP() << "gateway not built";
    const QByteArray token = "booth-77aa01";
    ASSERT_TRUE(gateway.start({}, token)) << gateway.error().toStdString();
    const QString base = "http://" + gateway.listener("http");
    HttpClient client(base);
    const QList<QPair<QByteArray, QByteArray>> wrong{{"Authorization", "Bearer booth-77aa02"}};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(client.get("/api/state", wrong).status, 401);

    // The fifth wrong guess waits 3.2 s. Meanwhile a request with the right
    // token is answered, and so is one with no token, which is no guess.
    QNetworkRequest guess(QUrl(base + "/api/state"));
    guess.setRawHeader("Authorization", "Bearer booth-77aa03");
    QNetworkReply* held = client.manager().get(guess);
    waitUntil([] { return false; }, 200);
    EXPECT_EQ(client.get("/api/state").status, 401);
    EXPECT_EQ(client.get("/api/state", {{"Authorization", "Bearer " + token}}).status, 200);
    EXPECT_FALSE(held->isFinished()) << "the wrong guess made before is still waiting";
    ASSERT_TRUE(waitUntil([held] { return held->isFinished(); }, 8000));
    EXPECT_EQ(held->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 401);
    held->deleteLater();

    // The login form counts against the same address.
    for (int i = 0; i < 4; ++i) EXPECT_EQ(client.post("/login", R"({"token":"booth-0"})").status, 401);
    QNetworkRequest login(QUrl(base + "/login"));
    login.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
    QNetworkReply* heldLogin = client.manager().post(login, R"({"token":"booth-1"})");
    waitUntil([] { return false; }, 200);
    EXPECT_EQ(client.get("/api/state", {{"Authorization", "Bearer " + token}}).status, 200);
    EXPECT_FALSE(heldLogin->isFinished());
    ASSERT_TRUE(waitUntil([heldLogin] { return heldLogin->isFinished(); }, 8000));
    EXPECT_EQ(heldLogin->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 401);
    heldLogin->deleteLater();
}

}  // namespace
