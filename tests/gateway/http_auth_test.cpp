// The web remote with a token: who is let in (bearer token, session cookie
// from the login form) and who is refused, on the API and on the WebSocket.
#include "gateway/http_client.h"

#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <gtest/gtest.h>

namespace {

using tk770::testing::GatewayPair;
using tk770::testing::HttpClient;
using tk770::testing::HttpReply;
using tk770::testing::WebSocketClient;

constexpr const char* token = "booth-4c2e91d07a";

class HttpAuth : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        gateway = new GatewayPair;
        if (!GatewayPair::available())
            return;
        QFile file(gateway->scratchPath("token"));
        if (!file.open(QIODevice::WriteOnly) || file.write(QByteArray(token) + "\n") < 0)
            GTEST_FAIL() << "cannot write the token file";
        file.close();
        if (!gateway->start({"--token-file", file.fileName()}))
            GTEST_FAIL() << gateway->error().toStdString();
    }
    static void TearDownTestSuite()
    {
        delete gateway;
        gateway = nullptr;
    }
    void SetUp() override
    {
        if (!gateway || gateway->listener("http").isEmpty())
            GTEST_SKIP() << "no gateway";
    }
    static QString base() { return "http://" + gateway->listener("http"); }
    static QString wsUrl() { return "ws://" + gateway->listener("http") + "/ws"; }

    // Logs in and returns the session cookie's "name=value".
    static QByteArray login(HttpClient& client)
    {
        const HttpReply reply = client.post("/login", QByteArray(R"({"token":")") + token + "\"}");
        const QList<QNetworkCookie> cookies = QNetworkCookie::parseCookies(reply.header("Set-Cookie"));
        return cookies.isEmpty() ? QByteArray() : cookies.first().toRawForm(QNetworkCookie::NameAndValueOnly);
    }

    static GatewayPair* gateway;
};
GatewayPair* HttpAuth::gateway = nullptr;

TEST_F(HttpAuth, TheApiNeedsTheTokenOrASession)
{
    HttpClient loggedIn(base());
    const QByteArray session = login(loggedIn);
    ASSERT_FALSE(session.isEmpty());
    const QByteArray bearer = QByteArray("Bearer ") + token;
    struct Case {
        const char* what;
        QList<QPair<QByteArray, QByteArray>> headers;
        int status;
    };
    const Case cases[] = {
        {"nothing", {}, 401},
        {"wrong bearer", {{"Authorization", "Bearer booth-4c2e91d07b"}}, 401},
        {"bearer prefix only", {{"Authorization", "Bearer booth-4c2e91d07"}}, 401},
        {"token as basic", {{"Authorization", QByteArray("Basic ") + token}}, 401},
        {"made-up session", {{"Cookie", "tk770_session=00112233445566778899aabbccddeeff"}}, 401},
        {"the token as a session", {{"Cookie", QByteArray("tk770_session=") + token}}, 401},
        {"bearer", {{"Authorization", bearer}}, 200},
        {"session cookie", {{"Cookie", session}}, 200},
        {"session among other cookies", {{"Cookie", "theme=dark; " + session + "; x=1"}}, 200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HttpClient client(base());  // its own cookie jar: only what the row sends
        const HttpReply state = client.get("/api/state", c.headers);
        EXPECT_EQ(state.status, c.status);
        auto headers = c.headers;
        headers.append({"Content-Type", "application/json"});
        const HttpReply command = client.send("POST", "/api/command", R"({"command":"volume","value":"?"})", headers);
        EXPECT_EQ(command.status, c.status);
        if (c.status == 401) {
            EXPECT_EQ(state.json()["error"].toString(), "auth required");
            EXPECT_EQ(state.header("WWW-Authenticate"), "Bearer");
            EXPECT_FALSE(state.json().contains("master_volume"));
        }
    }
}

TEST_F(HttpAuth, LoginSetsARandomHttpOnlyStrictSessionCookie)
{
    HttpClient client(base());
    const HttpReply wrong = client.post("/login", R"({"token":"booth-0000000000"})");
    EXPECT_EQ(wrong.status, 401);
    EXPECT_EQ(wrong.json()["error"].toString(), "wrong token");
    EXPECT_TRUE(wrong.header("Set-Cookie").isEmpty());
    EXPECT_EQ(client.post("/login", R"({"password":"x"})").status, 400);
    EXPECT_EQ(client.post("/login", QByteArray(R"({"token":")") + token + "\"}", {{"Content-Type", "text/plain"}})
                  .status,
              400);

    const HttpReply first = client.post("/login", QByteArray(R"({"token":")") + token + "\"}");
    ASSERT_EQ(first.status, 200);
    const QByteArray header = first.header("Set-Cookie");
    EXPECT_TRUE(header.contains("HttpOnly")) << header.toStdString();
    EXPECT_TRUE(header.contains("SameSite=Strict")) << header.toStdString();
    const QList<QNetworkCookie> cookies = QNetworkCookie::parseCookies(header);
    ASSERT_EQ(cookies.size(), 1);
    EXPECT_TRUE(cookies[0].isHttpOnly());
    EXPECT_FALSE(cookies[0].value().contains(token));
    EXPECT_GE(cookies[0].value().size(), 32);
    // Two logins, two sessions: the id is drawn, not derived from the token.
    HttpClient other(base());
    EXPECT_NE(login(other), cookies[0].toRawForm(QNetworkCookie::NameAndValueOnly));
    // The jar sends the cookie back as a browser would.
    EXPECT_EQ(client.get("/api/state").status, 200);
}

TEST_F(HttpAuth, ThePageAndItsCaptionsNeedNoToken)
{
    HttpClient client(base());
    const HttpReply page = client.get("/");
    EXPECT_EQ(page.status, 200);
    EXPECT_TRUE(page.body.contains("id=\"login\""));
    EXPECT_EQ(client.get("/api/captions").status, 200);
}

TEST_F(HttpAuth, TheWebSocketNeedsTheTokenOrASessionToo)
{
    HttpClient client(base());
    const QByteArray session = login(client);
    struct Case {
        const char* what;
        QList<QPair<QByteArray, QByteArray>> headers;
        bool opens;
    };
    const Case cases[] = {
        {"nothing", {}, false},
        {"wrong bearer", {{"Authorization", "Bearer nope"}}, false},
        {"made-up session", {{"Cookie", "tk770_session=abc"}}, false},
        {"bearer", {{"Authorization", QByteArray("Bearer ") + token}}, true},
        {"session cookie", {{"Cookie", session}}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WebSocketClient page;
        EXPECT_EQ(page.open(wsUrl(), c.headers), c.opens);
        if (c.opens)
            EXPECT_EQ(page.waitFor("state")["state"].toObject()["link"].toString(), "online");
        else
            EXPECT_TRUE(page.messages().isEmpty());
    }
}

}  // namespace
