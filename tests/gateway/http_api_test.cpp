// The web remote's JSON API and WebSocket against tk770-gateway in front of
// the simulator: every call's status and body, the limits on what a client
// may send, and the changes pushed to open pages.
#include "gateway/http_fixture.h"

#include <QJsonArray>
#include <gtest/gtest.h>

namespace {

using tk770::testing::GatewayPair;
using tk770::testing::HttpClient;
using tk770::testing::HttpReply;
using tk770::testing::rawRequest;
using tk770::testing::WebSocketClient;
using tk770::testing::WebSuite;
using tk770::testing::waitUntil;

class HttpApi : public WebSuite<HttpApi> {
public:
    static QByteArray token() { return {}; }
};

// Readable in a failure message, and in one order whatever the server's.
std::string compact(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

struct ApiCase {
    const char* method;
    const char* path;
    const char* body;  // sent as application/json
    int status;
    const char* reply;  // the whole JSON body
};

// In order: later rows see what earlier ones changed.
const ApiCase api_cases[] = {
    {"POST", "/api/command", R"({"command":"volume","value":"5.5"})", 200, R"({"ok":true,"value":"5.5"})"},
    {"POST", "/api/command", R"({"command":"volume","value":"?"})", 200, R"({"ok":true,"value":"5.5"})"},
    {"POST", "/api/command", R"({"command":"volume","value":6.2})", 200, R"({"ok":true,"value":"6.2"})"},
    {"POST", "/api/command", R"({"command":"VOLUME","value":"+0.5"})", 200, R"({"ok":true,"value":"6.7"})"},
    {"POST", "/api/command", R"({"command":"volume","value":"10.1"})", 400,
     R"({"ok":false,"error":"value 10.1 out of range 0.0..10.0 for volume"})"},
    {"POST", "/api/command", R"({"command":"volume","value":"loud"})", 400,
     R"x({"ok":false,"error":"not a volume: 'loud' (0.0..10.0 in steps of 0.1, or +V/-V)"})x"},
    {"POST", "/api/command", R"({"command":"mute","value":"on"})", 200, R"({"ok":true,"value":"on"})"},
    {"POST", "/api/command", R"({"command":"mute","value":"toggle"})", 200, R"({"ok":true,"value":"off"})"},
    {"POST", "/api/command", R"({"command":"format","value":"aux"})", 200, R"({"ok":true,"value":"aux"})"},
    {"POST", "/api/command", R"({"command":"format","value":"hdmi"})", 400,
     R"({"ok":false,"error":"bad value 'hdmi' for format: digital, analog, nonsync, aux, mic or ?"})"},
    {"POST", "/api/command", R"({"command":"poweron","value":"last"})", 200, R"({"ok":true,"value":"last"})"},
    {"POST", "/api/command", R"({"command":"fade","value":"3"})", 200, R"({"ok":true,"value":"3"})"},
    {"POST", "/api/command", R"({"command":"fade","value":"10"})", 400,
     R"({"ok":false,"error":"value 10 out of range 0..9 for fade"})"},
    {"POST", "/api/command", R"({"command":"get","value":"master_volume"})", 200, R"({"ok":true,"value":"67"})"},
    {"POST", "/api/command", R"({"command":"status"})", 200, R"({"ok":true,"value":"online TK770 TK7700000001 V1.00"})"},
    {"POST", "/api/command", R"({"command":"save"})", 200, R"({"ok":true})"},
    // The text protocol's own commands are not offered here.
    {"POST", "/api/command", R"({"command":"subscribe"})", 404, R"({"ok":false,"error":"unknown command"})"},
    {"POST", "/api/command", R"({"command":"quit"})", 404, R"({"ok":false,"error":"unknown command"})"},
    {"POST", "/api/command", R"({"command":"frobnicate","value":"3"})", 404, R"({"ok":false,"error":"unknown command"})"},
    {"POST", "/api/command", R"({"command":"help"})", 200,
     R"({"ok":true,"value":"volume mute format poweron fade get set save status version ping help"})"},
    {"POST", "/api/command", R"({"command":"help","value":"mute"})", 200,
     R"({"ok":true,"value":"mute ?|on|off|toggle: the mute button (only its own bit of the mute byte); answers on or off"})"},
    {"POST", "/api/command", R"({"command":"help","value":"quit"})", 404, R"({"ok":false,"error":"unknown command"})"},
    {"POST", "/api/command", R"({"command":"save","value":"now"})", 400, R"({"ok":false,"error":"save takes no value"})"},
    {"POST", "/api/command", R"({"command":"ping"})", 200, R"({"ok":true,"value":"pong"})"},
    {"POST", "/api/command", R"({"value":"5"})", 400, R"({"ok":false,"error":"command missing"})"},
    {"POST", "/api/command", R"({"command":"volume","value":true})", 400,
     R"({"ok":false,"error":"value must be a text or a number"})"},
    {"POST", "/api/command", R"({"command":"volume","value":"5\n5"})", 400, R"({"ok":false,"error":"bad value"})"},
    {"POST", "/api/set", R"({"field":"output_delay[2]","value":40})", 200, R"({"ok":true,"value":"40"})"},
    {"POST", "/api/set", R"({"field":"tone[1].bass_gain","value":"-30"})", 200, R"({"ok":true,"value":"-30"})"},
    {"POST", "/api/set", R"({"field":"output_delay[2]","value":"999"})", 400,
     R"({"ok":false,"error":"value 999 out of range 0..200 for output_delay[2]"})"},
    {"POST", "/api/set", R"({"field":"device_serial","value":"X"})", 403, R"({"ok":false,"error":"device_serial is read-only"})"},
    {"POST", "/api/set", R"({"field":"no_such_field","value":"1"})", 400, R"({"ok":false,"error":"unknown field 'no_such_field'"})"},
    {"POST", "/api/set", R"({"field":"master volume","value":"1"})", 400, R"({"ok":false,"error":"unknown field"})"},
    {"POST", "/api/set", R"({"value":"1"})", 400, R"({"ok":false,"error":"field missing"})"},
    {"POST", "/api/set", R"([1,2])", 400, R"({"ok":false,"error":"a JSON object expected"})"},
    {"POST", "/api/set", R"({"field":)", 400, R"({"ok":false,"error":"bad JSON at byte 9: unterminated object"})"},
    {"GET", "/api/command", "", 405, R"({"ok":false,"error":"use POST"})"},
    {"POST", "/api/state", "{}", 405, R"({"ok":false,"error":"use GET"})"},
    {"GET", "/api/nothing", "", 404, R"({"ok":false,"error":"not found"})"},
};

TEST_F(HttpApi, EveryCallAnswersWithItsStatusAndBody)
{
    HttpClient client(base());
    for (const ApiCase& c : api_cases) {
        SCOPED_TRACE(std::string(c.method) + " " + c.path + " " + c.body);
        const HttpReply reply = client.send(c.method, c.path, c.body, {{"Content-Type", "application/json"}});
        EXPECT_EQ(reply.status, c.status);
        EXPECT_EQ(compact(reply.json()), compact(QJsonDocument::fromJson(c.reply).object()));
        EXPECT_EQ(reply.header("Content-Type"), "application/json");
        EXPECT_FALSE(reply.hasCorsHeader());
    }
}

TEST_F(HttpApi, StateHoldsEveryFieldTheLinkAndTheIdentity)
{
    HttpClient client(base());
    ASSERT_EQ(client.post("/api/command", R"({"command":"volume","value":"7.3"})").status, 200);
    const HttpReply reply = client.get("/api/state");
    ASSERT_EQ(reply.status, 200);
    const QJsonObject state = reply.json();
    EXPECT_EQ(state.value("master_volume").toVariant().toInt(), 73);
    EXPECT_EQ(state.value("link").toString(), "online");
    EXPECT_EQ(state.value("identity").toObject().value("model").toString(), "TK770");
    EXPECT_EQ(state.value("identity").toObject().value("serial").toString(), "TK7700000001");
    for (const char* field : {"input_format", "fade_time", "power_on_format", "master_mute", "eq[0][26]",
                              "profile_text[2]", "firmware_date"})
        EXPECT_TRUE(state.contains(field)) << field;
    EXPECT_FALSE(reply.hasCorsHeader());
}

TEST_F(HttpApi, PageAndCaptionsComeFromTheGatewayItself)
{
    HttpClient client(base());
    const HttpReply page = client.get("/");
    ASSERT_EQ(page.status, 200);
    EXPECT_TRUE(page.header("Content-Type").startsWith("text/html"));
    EXPECT_TRUE(page.body.contains("name=\"viewport\""));
    // Booths are often offline: nothing may be fetched from elsewhere.
    for (const char* external : {"src=\"http", "href=\"http", "@import", "url(", "//fonts.", "cdn"})
        EXPECT_FALSE(page.body.contains(external)) << external;

    const QJsonObject captions = client.get("/api/captions").json();
    EXPECT_EQ(captions["zh"].toObject()["volume"].toString(), QString::fromUtf8("主音量"));
    EXPECT_EQ(captions["en"].toObject()["volume"].toString(), "Main Fader");
    EXPECT_EQ(captions["en"].toObject()["formats"].toArray().size(), 5);
    EXPECT_EQ(captions["en"].toObject()["power_on_items"].toArray().last().toString(), "Last Selected");
    EXPECT_EQ(captions["zh"].toObject()["fade_times"].toArray().first().toString(), QString::fromUtf8("淡入淡出1秒"));
}

TEST_F(HttpApi, PlainTextPostsAreRefusedSoOtherSitesCannotPostWithoutAsking)
{
    HttpClient client(base());
    const HttpReply reply =
        client.post("/api/command", R"({"command":"volume","value":"1.0"})", {{"Content-Type", "text/plain"}});
    EXPECT_EQ(reply.status, 400);
    EXPECT_EQ(reply.json()["error"].toString(), "Content-Type must be application/json");
    EXPECT_NE(client.post("/api/command", R"({"command":"volume","value":"?"})").json()["value"], "1.0");
}

struct RawCase {
    const char* what;
    QByteArray request;
    int status;
    const char* error;
};

TEST_F(HttpApi, WhatTheServerWouldBufferWholeIsRefusedUnread)
{
    const QByteArray host = "Host: " + gateway->listener("http").toLatin1() + "\r\n";
    const QByteArray post = "POST /api/command HTTP/1.1\r\n" + host + "Content-Type: application/json\r\n";
    // A valid command padded with blanks to exactly the limit passes.
    QByteArray fits = R"({"command":"volume","value":"4.4"})";
    fits += QByteArray(4096 - fits.size(), ' ');
    const RawCase cases[] = {
        {"body at the limit", post + "Content-Length: 4096\r\n\r\n" + fits, 200, nullptr},
        {"body over the limit", post + "Content-Length: 4097\r\n\r\n" + fits + ' ', 413, "body over 4096 bytes"},
        {"body far over, not sent", post + "Content-Length: 100000000\r\n\r\n", 413, "body over 4096 bytes"},
        {"chunked body", post + "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n", 411,
         "a body needs Content-Length"},
        {"bad length", post + "Content-Length: 12x\r\n\r\n", 400, "bad Content-Length"},
        {"two lengths", post + "Content-Length: 4\r\nContent-Length: 40\r\n\r\n{}  ", 400, "bad Content-Length"},
        {"head over 8 KiB", "GET /api/state HTTP/1.1\r\n" + host + "X-Pad: " + QByteArray(9000, 'a') + "\r\n\r\n", 431,
         "request head over 8192 bytes"},
        {"foreign host", "GET /api/state HTTP/1.1\r\nHost: tk770.example:8770\r\n\r\n", 421, "unknown host"},
        {"foreign origin", "GET /api/state HTTP/1.1\r\n" + host + "Origin: http://tk770.example\r\n\r\n", 403,
         "cross-origin request"},
        {"other upgrade", "GET /ws HTTP/1.1\r\n" + host + "Connection: Upgrade\r\nUpgrade: h2c\r\n\r\n", 400,
         "only WebSocket upgrades"},
    };
    for (const RawCase& c : cases) {
        SCOPED_TRACE(c.what);
        const HttpReply reply = rawRequest(GatewayPair::host(), gateway->port("http"), c.request);
        EXPECT_EQ(reply.status, c.status);
        if (c.error) {
            EXPECT_EQ(reply.json()["error"].toString(), c.error);
        }
        EXPECT_FALSE(reply.hasCorsHeader());
    }
    // The listener is still there for everyone else.
    HttpClient client(base());
    EXPECT_EQ(client.post("/api/command", R"({"command":"volume","value":"?"})").json()["value"], "4.4");
}

TEST_F(HttpApi, PreflightGetsNoCorsHeaders)
{
    HttpClient client(base());
    const HttpReply reply = client.send("OPTIONS", "/api/command", {},
                                        {{"Origin", base().toLatin1()}, {"Access-Control-Request-Method", "POST"}});
    EXPECT_GE(reply.status, 400);
    EXPECT_FALSE(reply.hasCorsHeader());
}

TEST_F(HttpApi, AnOpenPageGetsTheStateThenEveryChangeFromAnyClient)
{
    WebSocketClient page;
    ASSERT_TRUE(page.open(wsUrl()));
    const QJsonObject first = page.waitFor("state");
    ASSERT_FALSE(first.isEmpty());
    EXPECT_EQ(first["state"].toObject()["link"].toString(), "online");

    HttpClient client(base());
    ASSERT_EQ(client.post("/api/command", R"({"command":"volume","value":"3.1"})").status, 200);
    EXPECT_EQ(page.waitFor("change", "volume")["value"].toString(), "3.1");

    // A text client's change reaches the page too.
    QTcpSocket text;
    text.connectToHost(GatewayPair::host(), gateway->port("text"));
    ASSERT_TRUE(text.waitForConnected(5000));
    // Two values each, so at least one is a change whatever the processor held.
    text.write("format aux\r\nformat mic\r\nfade 2\r\nfade 4\r\n");
    auto reaches = [&page](const QString& key, const QString& value) {
        for (QJsonObject m = page.waitFor("change", key); !m.isEmpty(); m = page.waitFor("change", key))
            if (m["value"].toString() == value)
                return true;
        return false;
    };
    EXPECT_TRUE(reaches("format", "mic"));
    EXPECT_TRUE(reaches("fade_time", "4"));

    // Commands go by POST; the socket says so instead of taking them.
    page.socket().sendTextMessage("volume 1.0");
    EXPECT_TRUE(page.waitFor("error")["error"].toString().contains("POST /api/command"));
    EXPECT_NE(client.post("/api/command", R"({"command":"volume","value":"?"})").json()["value"], "1.0");
}

TEST_F(HttpApi, SixteenPagesAtOnceAndNoMore)
{
    const QString url = wsUrl();
    std::vector<std::unique_ptr<WebSocketClient>> pages;
    for (int i = 0; i < 16; ++i) {
        pages.push_back(std::make_unique<WebSocketClient>());
        ASSERT_TRUE(pages.back()->open(url)) << "page " << i;
    }
    WebSocketClient surplus;
    EXPECT_FALSE(surplus.open(url));
    // One leaves; the next one gets its place.
    pages.front()->socket().close();
    pages.erase(pages.begin());
    WebSocketClient next;
    EXPECT_TRUE(waitUntil([&] { return next.open(url); }, 5000));
}

TEST(HttpOffline, CommandsSayNoReplyThenOfflineWithTheirStatuses)
{
    GatewayPair gateway;
    if (!GatewayPair::available())
        GTEST_SKIP() << "gateway not built";
    ASSERT_TRUE(gateway.start()) << gateway.error().toStdString();
    WebSocketClient page;
    ASSERT_TRUE(page.open("ws://" + gateway.listener("http") + "/ws"));
    gateway.sim().stop();
    // The gateway learns that the processor is gone from the next exchange.
    HttpClient client("http://" + gateway.listener("http"));
    // 504: the gateway's processor did not answer; 409: the link is down, so
    // the command cannot be carried out now.
    const HttpReply first = client.post("/api/command", R"({"command":"volume","value":"5.0"})");
    EXPECT_EQ(first.status, 504) << first.body.toStdString();
    EXPECT_EQ(compact(first.json()), R"({"error":"no reply","ok":false})");
    EXPECT_EQ(page.waitFor("change", "link")["value"].toString(), "offline");

    const HttpReply reply = client.post("/api/command", R"({"command":"volume","value":"5.0"})");
    EXPECT_EQ(reply.status, 409);
    EXPECT_EQ(compact(reply.json()), R"({"error":"offline","ok":false})");
    EXPECT_EQ(client.get("/api/state").json()["link"].toString(), "offline");
}

}  // namespace
