// The web remote with a token: who is let in (bearer token, session cookie
// from the login form) and who is refused, on the API and on the WebSocket.
#include "gateway/http_fixture.h"

#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <gtest/gtest.h>

namespace {

using tk770::testing::GatewayPair;
using tk770::testing::HttpClient;
using tk770::testing::HttpReply;
using tk770::testing::WebSocketClient;
using tk770::testing::WebSuite;

const char* const booth_token = "booth-4c2e91d07a";

class HttpAuth : public WebSuite<HttpAuth> {
public:
    static QByteArray token() { return booth_token; }

protected:
    // Logs in and returns the session cookie's "name=value".
    static QByteArray login(HttpClient& client)
    {
        const HttpReply reply = client.post("/login", QByteArray(R"({"token":")") + booth_token + "\"}");
        const QList<QNetworkCookie> cookies = QNetworkCookie::parseCookies(reply.header("Set-Cookie"));
        return cookies.isEmpty() ? QByteArray() : cookies.first().toRawForm(QNetworkCookie::NameAndValueOnly);
    }
};

TEST_F(HttpAuth, TheApiNeedsTheTokenOrASession)
{
    HttpClient loggedIn(base());
    const QByteArray session = login(loggedIn);
    ASSERT_FALSE(session.isEmpty());
    const QByteArray bearer = QByteArray("Bearer ") + booth_token;
    struct Case {
        const char* what;
        QList<QPair<QByteArray, QByteArray>> headers;
        int status;
    };
    const Case cases[] = {
        {"nothing", {}, 401},
        {"wrong bearer", {{"Authorization", "Bearer booth-4c2e91d07b"}}, 401},
        {"bearer prefix only", {{"Authorization", "Bearer booth-4c2e91d07"}}, 401},
        {"token as basic", {{"Authorization", QByteArray("Basic ") + booth_token}}, 401},
        {"made-up session", {{"Cookie", "tk770_session=00112233445566778899aabbccddeeff"}}, 401},
        {"the token as a session", {{"Cookie", QByteArray("tk770_session=") + booth_token}}, 401},
        {"bearer", {{"Authorization", bearer}}, 200},
        {"session cookie", {{"Cookie", session}}, 200},
        {"session among other cookies", {{"Cookie", "theme=dark; " + session + "; x=1"}}, 200},
        // Another page on the same host can set a cookie of this name.
        {"forged session before the valid one", {{"Cookie", "tk770_session=forged; " + session}}, 200},
        {"forged session after the valid one", {{"Cookie", session + "; tk770_session=forged"}}, 200},
        {"empty session before the valid one", {{"Cookie", "tk770_session=; " + session}}, 200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HttpClient client(base());  // its own cookie jar: only what the row sends
        const HttpReply state = client.get("/api/state", c.headers);
        EXPECT_EQ(state.status, c.status);
        auto headers = c.headers;
        headers.append(qMakePair(QByteArray("Content-Type"), QByteArray("application/json")));
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
    EXPECT_EQ(client.post("/login", QByteArray(R"({"token":")") + booth_token + "\"}", {{"Content-Type", "text/plain"}})
                  .status,
              400);

    const HttpReply first = client.post("/login", QByteArray(R"({"token":")") + booth_token + "\"}");
    ASSERT_EQ(first.status, 200);
    const QByteArray header = first.header("Set-Cookie");
    EXPECT_TRUE(header.contains("HttpOnly")) << header.toStdString();
    EXPECT_TRUE(header.contains("SameSite=Strict")) << header.toStdString();
    const QList<QNetworkCookie> cookies = QNetworkCookie::parseCookies(header);
    ASSERT_EQ(cookies.size(), 1);
    EXPECT_TRUE(cookies[0].isHttpOnly());
    EXPECT_FALSE(cookies[0].value().contains(booth_token));
    EXPECT_GE(cookies[0].value().size(), 32);
    // Two logins, two sessions: the id is drawn, not derived from the token.
    HttpClient other(base());
    EXPECT_NE(login(other), cookies[0].toRawForm(QNetworkCookie::NameAndValueOnly));
    // The jar sends the cookie back as a browser would.
    EXPECT_EQ(client.get("/api/state").status, 200);
}

TEST_F(HttpAuth, ManyLoginsDoNotEndAnEarlierSession)
{
    HttpClient first(base());
    const QByteArray session = login(first);
    ASSERT_FALSE(session.isEmpty());
    // Every reload of a page on every phone of a booth logs in again.
    for (int i = 0; i < 300; ++i) {
        HttpClient other(base());
        ASSERT_FALSE(login(other).isEmpty()) << i;
    }
    HttpClient client(base());
    EXPECT_EQ(client.get("/api/state", {{"Cookie", session}}).status, 200);
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
        {"bearer", {{"Authorization", QByteArray("Bearer ") + booth_token}}, true},
        {"session cookie", {{"Cookie", session}}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WebSocketClient page;
        EXPECT_EQ(page.open(wsUrl(), c.headers), c.opens);
        if (c.opens) {
            EXPECT_EQ(page.waitFor("state")["state"].toObject()["link"].toString(), "online");
        } else {
            EXPECT_TRUE(page.messages().isEmpty());
        }
    }
}

}  // namespace
