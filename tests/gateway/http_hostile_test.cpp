// The web remote against requests a browser never sends, written byte for
// byte on a plain socket: odd line endings, Upgrade headers that are not a
// handshake, pipelined heads split anywhere, duplicate and folded Host lines,
// absolute-form targets, heads and bodies over the limits, Connection: close,
// and connections that stay without finishing a request. Every hostile
// request tries to set the volume to 1.1; none may.
#include "gateway/http_fixture.h"
#include "support/program_run.h"

#include <QNetworkReply>
#include <QProcess>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using tk770::testing::GatewayPair;
using tk770::testing::HttpClient;
using tk770::testing::HttpReply;
using tk770::testing::RawConnection;
using tk770::testing::waitUntil;
using tk770::testing::WebSocketClient;

constexpr int idleMs = 1500;

class HttpHostile : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        gateway = new GatewayPair;
        if (GatewayPair::available() && !gateway->start({"--http-idle-ms", QString::number(idleMs)}))
            ADD_FAILURE() << gateway->error().toStdString();
    }
    static void TearDownTestSuite()
    {
        delete gateway;
        gateway = nullptr;
    }
    void SetUp() override
    {
        if (!gateway || gateway->listener("http").isEmpty())
            GTEST_SKIP() << "gateway or simulator not built, or not started";
        HttpClient client(base());
        ASSERT_EQ(client.post("/api/command", R"({"command":"volume","value":"5.0"})").status, 200);
    }
    void TearDown() override
    {
        if (!gateway || gateway->listener("http").isEmpty())
            return;
        HttpClient client(base());
        EXPECT_EQ(client.post("/api/command", R"({"command":"volume","value":"?"})").json()["value"].toString(), "5.0")
            << "a hostile request changed the volume";
    }
    static QString base() { return "http://" + gateway->listener("http"); }
    static QByteArray host() { return "Host: " + gateway->listener("http").toLatin1(); }

    // A POST of the marker command with the head lines given, ended by
    // `eol`; `length` claims another body length than the body's own.
    static QByteArray marker(const QByteArray& hostLine, const QByteArray& eol = "\r\n", const QByteArray& extra = {},
                             qint64 length = -1)
    {
        const QByteArray body = R"({"command":"volume","value":"1.1"})";
        return "POST /api/command HTTP/1.1" + eol + hostLine + eol + extra + "Content-Type: application/json" + eol +
               "Content-Length: " + QByteArray::number(length < 0 ? body.size() : length) + eol + eol + body;
    }
    static QByteArray get(const QByteArray& extra = {})
    {
        return "GET /api/state HTTP/1.1\r\n" + host() + "\r\n" + extra + "\r\n";
    }

    static inline GatewayPair* gateway = nullptr;
};

struct HostileCase {
    const char* what;
    QByteArray bytes;           // written at once
    std::vector<int> statuses;  // the responses, in order
    bool closed;                // the gateway has closed the connection after them
};

TEST_F(HttpHostile, EveryRequestOnAConnectionIsScreened)
{
    const QByteArray evil = "Host: evil.example";
    const QByteArray bigBody = marker(host(), "\r\n", {}, 200'000'000);
    const QByteArray upgradeOnly = "Upgrade: websocket\r\n";
    const HostileCase cases[] = {
        {"CRLF", get(), {200}, false},
        {"LF LF head", "GET /api/state HTTP/1.1\n" + host() + "\n\n", {400}, true},
        {"LF LF head, foreign Host and Origin, a body", marker(evil, "\n", "Origin: http://evil.example\n"), {400}, true},
        {"LF inside a CRLF head", "GET /api/state HTTP/1.1\r\n" + host() + "\nX-A: 1\r\n\r\n", {400}, true},
        {"CR alone", "GET /api/state HTTP/1.1\r" + host() + "\r\r", {400}, true},
        {"Upgrade without Connection: Upgrade, then a foreign Host", get(upgradeOnly) + marker(evil), {200, 421}, true},
        {"Upgrade without Connection: Upgrade, then a body over the limit", get(upgradeOnly) + bigBody, {200, 413}, true},
        {"Upgrade without Connection: Upgrade on /ws, then a plain GET",
         "GET /ws HTTP/1.1\r\n" + host() + "\r\n" + upgradeOnly + "Sec-WebSocket-Version: 13\r\n"
         "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n" + get(),
         {426, 200}, false},
        {"WebSocket upgrade on another path", "GET /api/state HTTP/1.1\r\n" + host() + "\r\nConnection: Upgrade\r\n" +
         upgradeOnly + "Sec-WebSocket-Version: 13\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n",
         {404}, true},
        {"two Host lines, the foreign one last", marker(host() + "\r\n" + evil), {400}, true},
        {"two Host lines, the foreign one first", marker(evil + "\r\n" + host()), {400}, true},
        {"no Host", "GET /api/state HTTP/1.1\r\n\r\n", {400}, true},
        {"Host folded onto a second line", marker("Host:\r\n " + gateway->listener("http").toLatin1()), {400}, true},
        {"Host with a folded tail", marker(host() + "\r\n\tevil.example"), {400}, true},
        {"another header folded", marker(host(), "\r\n", "X-Note: a\r\n b\r\n"), {400}, true},
        {"Host with a user part", marker("Host: evil@" + gateway->listener("http").toLatin1()), {400}, true},
        {"absolute-form target, foreign", "GET http://evil.example/api/state HTTP/1.1\r\n" + host() + "\r\n\r\n",
         {400}, true},
        {"absolute-form target, our own address",
         marker(host()).replace("POST /api/command", "POST http://" + gateway->listener("http").toLatin1() +
                                                         "/api/command"),
         {400}, true},
        {"authority-form target", "CONNECT evil.example:443 HTTP/1.1\r\n" + host() + "\r\n\r\n", {400}, true},
        {"asterisk target", "OPTIONS * HTTP/1.1\r\n" + host() + "\r\n\r\n", {400}, true},
        {"Origin null", get("Origin: null\r\n"), {403}, true},
        {"two Origins, the foreign one last", get("Origin: " + base().toLatin1() + "\r\nOrigin: http://evil.example\r\n"),
         {403}, true},
        {"our own Origin", get("Origin: " + base().toLatin1() + "\r\n"), {200}, false},
        {"head over 8 KiB in many short lines",
         "GET /api/state HTTP/1.1\r\n" + host() + "\r\n" + QByteArray("X-Pad: aaaaaaaaaaaaaaaaaaaaaaa\r\n").repeated(300) +
         "\r\n",
         {431}, true},
        {"body over the limit after a good request", get() + bigBody, {200, 413}, true},
        {"Content-Length and chunked", marker(host(), "\r\n", "Transfer-Encoding: chunked\r\n"), {400}, true},
        {"Transfer-Encoding other than chunked", marker(host(), "\r\n", "Transfer-Encoding: gzip\r\n"), {411}, true},
        {"Connection: close ends it after the answer", get("Connection: close\r\n") + get(), {200}, true},
        {"HTTP/1.0 ends it after the answer", "GET /api/state HTTP/1.0\r\n" + host() + "\r\n\r\n" + get(), {200}, true},
        {"three pipelined requests", get() + get() + get(), {200, 200, 200}, false},
    };
    for (const HostileCase& c : cases) {
        SCOPED_TRACE(c.what);
        RawConnection connection;
        ASSERT_TRUE(connection.open(GatewayPair::host(), gateway->port("http")));
        connection.send(c.bytes);
        for (const int status : c.statuses) {
            const HttpReply reply = connection.next();
            EXPECT_EQ(reply.status, status) << reply.body.toStdString();
            EXPECT_EQ(reply.header("Content-Type"), "application/json");
        }
        if (c.closed) {
            EXPECT_TRUE(connection.closedWithin(idleMs / 2)) << "closed at once, not at the idle time";
        } else {
            EXPECT_EQ(connection.next(200).status, 0) << "nothing more is answered";
            EXPECT_EQ(connection.socket().state(), QAbstractSocket::ConnectedState);
        }
    }
}

TEST_F(HttpHostile, APipelinedHeadIsScreenedWhereverItIsSplit)
{
    struct Second {
        const char* what;
        QByteArray request;
        int status;
    };
    const Second seconds[] = {
        {"a good request", get(), 200},
        {"a foreign Host", marker("Host: evil.example"), 421},
        {"a foreign Origin", marker(host(), "\r\n", "Origin: http://evil.example\r\n"), 403},
        {"a body over the limit", marker(host(), "\r\n", {}, 5000), 413},
    };
    for (const Second& second : seconds) {
        for (qsizetype at = 0; at < second.request.size(); ++at) {
            SCOPED_TRACE(std::string(second.what) + ", split after byte " + std::to_string(at));
            RawConnection connection;
            ASSERT_TRUE(connection.open(GatewayPair::host(), gateway->port("http")));
            // The first request is answered while the start of the second
            // waits in the gateway; then the rest of the second comes.
            connection.send(get() + second.request.left(at));
            ASSERT_EQ(connection.next().status, 200);
            connection.send(second.request.mid(at));
            ASSERT_EQ(connection.next().status, second.status);
        }
    }
}

TEST_F(HttpHostile, AConnectionThatDoesNotFinishARequestIsClosed)
{
    struct Case {
        const char* what;
        QByteArray first;  // written at once
        int status;        // answered before the wait, 0: none
        QByteArray trickle;  // then one byte every 100 ms
    };
    const Case cases[] = {
        {"silent from the start", {}, 0, {}},
        {"silent after an answer", get(), 200, {}},
        {"silent after an Upgrade without Connection: Upgrade", get("Upgrade: websocket\r\n"), 200, {}},
        {"half a head", "GET /api/state HTTP/1.1\r\n", 0, {}},
        {"a head a byte at a time", {}, 0, QByteArray("GET /api/state HTTP/1.1\r\n") + QByteArray(60, 'X')},
        {"a body a byte at a time", "POST /api/command HTTP/1.1\r\n" + host() + "\r\nContent-Type: application/json\r\n"
                                    "Content-Length: 200\r\n\r\n",
         0, QByteArray(60, ' ')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RawConnection connection;
        ASSERT_TRUE(connection.open(GatewayPair::host(), gateway->port("http")));
        QElapsedTimer clock;
        clock.start();
        connection.send(c.first);
        if (c.status)
            EXPECT_EQ(connection.next().status, c.status);
        for (const char byte : c.trickle) {
            if (connection.socket().state() != QAbstractSocket::ConnectedState)
                break;
            connection.send(QByteArray(1, byte));
            waitUntil([] { return false; }, 100);
        }
        EXPECT_TRUE(connection.closedWithin(3 * idleMs));
        EXPECT_GE(clock.elapsed(), idleMs - 100) << "not closed before its time";
        EXPECT_LT(clock.elapsed(), 3 * idleMs);
    }
}

TEST_F(HttpHostile, SixtyFourSilentConnectionsDoNotLockThePageOut)
{
    std::vector<std::unique_ptr<RawConnection>> silent;
    for (int i = 0; i < 64; ++i) {
        silent.push_back(std::make_unique<RawConnection>());
        ASSERT_TRUE(silent.back()->open(GatewayPair::host(), gateway->port("http")));
        silent.back()->send("GET /api/state HTTP/1.1\r\n");  // and never more
    }
    // The longest waiting of them makes room for each new client.
    for (int i = 0; i < 4; ++i) {
        HttpClient client(base());
        QElapsedTimer clock;
        clock.start();
        EXPECT_EQ(client.get("/").status, 200);
        EXPECT_EQ(client.get("/api/state").status, 200);
        EXPECT_LT(clock.elapsed(), idleMs) << "served before any silent connection timed out";
    }
}

// ------------------------------------------------------------------ Host

TEST(HttpHost, AListenerTakesItsOwnAddressAndLocalhost)
{
    GatewayPair gateway;
    if (!GatewayPair::available())
        GTEST_SKIP() << "gateway not built";
    ASSERT_TRUE(gateway.start({}, {}, "127.0.0.2:0")) << gateway.error().toStdString();
    const QByteArray port = QByteArray::number(gateway.port("http"));
    const std::pair<QByteArray, int> cases[] = {
        {"127.0.0.2:" + port, 200},        {"127.0.0.2", 200},          {"localhost:" + port, 200},
        {"LocalHost:" + port, 200},        {"localhost", 200},          {"127.0.0.1:" + port, 421},
        {"evil.example:" + port, 421},     {"127.0.0.2:" + port + "0", 421},
        {"127.0.0.2.evil.example:" + port, 421},
    };
    for (const auto& [host, status] : cases) {
        SCOPED_TRACE(host.toStdString());
        const HttpReply reply = tk770::testing::rawRequest(QHostAddress("127.0.0.2"), gateway.port("http"),
                                                           "GET /api/state HTTP/1.1\r\nHost: " + host + "\r\n\r\n");
        EXPECT_EQ(reply.status, status);
    }
}

// ------------------------------------------------------------------ TLS

// A self-signed certificate for 127.0.0.1 and its key, made by the openssl
// program in a folder of the test's.
struct SelfSigned {
    QTemporaryDir dir;
    QString cert() const { return dir.filePath("cert.pem"); }
    QString key() const { return dir.filePath("key.pem"); }
    bool make()
    {
        QProcess openssl;
        openssl.start("openssl", {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                                  "-nodes", "-days", "2", "-subj", "/CN=127.0.0.1", "-addext",
                                  "subjectAltName=IP:127.0.0.1", "-keyout", key(), "-out", cert()});
        return openssl.waitForFinished(20000) && openssl.exitStatus() == QProcess::NormalExit &&
               openssl.exitCode() == 0;
    }
};

TEST(HttpTls, ThePageTheApiAndTheWebSocketOverTls)
{
    SelfSigned pem;
    if (!GatewayPair::available() || !QSslSocket::supportsSsl())
        GTEST_SKIP() << "gateway not built, or Qt without TLS";
    if (!pem.make())
        GTEST_SKIP() << "no openssl program to make a certificate";
    GatewayPair gateway;
    ASSERT_TRUE(gateway.start({"--tls-cert", pem.cert(), "--tls-key", pem.key()}, "booth-7f3a"))
        << gateway.error().toStdString();
    const QString base = "https://" + gateway.listener("http");

    QFile certFile(pem.cert());
    ASSERT_TRUE(certFile.open(QIODevice::ReadOnly));
    const QSslCertificate cert(certFile.readAll());
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setCaCertificates({cert});  // trusted, so a wrong certificate fails
    QSslConfiguration::setDefaultConfiguration(tls);

    HttpClient client(base);
    const HttpReply page = client.get("/");
    EXPECT_EQ(page.status, 200);
    EXPECT_TRUE(page.body.contains("id=\"login\""));
    const HttpReply login = client.post("/login", R"({"token":"booth-7f3a"})");
    EXPECT_EQ(login.status, 200);
    EXPECT_TRUE(login.header("Set-Cookie").contains("; Secure")) << "the session cookie stays on HTTPS";
    EXPECT_EQ(client.post("/api/command", R"({"command":"volume","value":"3.3"})").status, 200);
    EXPECT_EQ(client.get("/api/state", {{"Authorization", "Bearer booth-7f3a"}}).json()["master_volume"].toVariant().toInt(), 33);

    WebSocketClient socket;
    ASSERT_TRUE(socket.open("wss://" + gateway.listener("http") + "/ws", {{"Authorization", "Bearer booth-7f3a"}}));
    EXPECT_EQ(socket.waitFor("state")["state"].toObject()["master_volume"].toVariant().toInt(), 33);
    EXPECT_EQ(client.post("/api/command", R"({"command":"volume","value":"3.4"})").status, 200);
    EXPECT_EQ(socket.waitFor("change", "volume")["value"].toString(), "3.4");

    // Plain HTTP to the TLS port gets no answer, only a closed connection.
    RawConnection plain;
    ASSERT_TRUE(plain.open(GatewayPair::host(), gateway.port("http")));
    plain.send("GET / HTTP/1.1\r\nHost: " + gateway.listener("http").toLatin1() + "\r\n\r\n");
    EXPECT_EQ(plain.next().status, 0);
    EXPECT_TRUE(plain.closedWithin(3000));
    QSslConfiguration::setDefaultConfiguration(QSslConfiguration());
}

TEST(HttpTls, CertificateAndKeyAreRefusedWhenTheyCannotServe)
{
    SelfSigned pem, other;
    if (!QFile::exists(tk770::testing::gatewayProgram()))
        GTEST_SKIP() << "gateway not built";
    if (!pem.make() || !other.make())
        GTEST_SKIP() << "no openssl program to make a certificate";
    QFile garbage(pem.dir.filePath("garbage.pem"));
    ASSERT_TRUE(garbage.open(QIODevice::WriteOnly) && garbage.write("-----BEGIN CERTIFICATE-----\nnot base64\n") > 0);
    garbage.close();
    struct Case {
        const char* what;
        QStringList options;
        const char* reason;
    };
    const Case cases[] = {
        {"certificate alone", {"--tls-cert", pem.cert()}, "--tls-cert and --tls-key go together"},
        {"key alone", {"--tls-key", pem.key()}, "--tls-cert and --tls-key go together"},
        {"missing certificate", {"--tls-cert", pem.dir.filePath("none.pem"), "--tls-key", pem.key()},
         "is not a regular file"},
        {"a folder as key", {"--tls-cert", pem.cert(), "--tls-key", pem.dir.path()}, "is not a regular file"},
        {"garbage certificate", {"--tls-cert", garbage.fileName(), "--tls-key", pem.key()},
         "the certificate cannot be used"},
        {"certificate as key", {"--tls-cert", pem.cert(), "--tls-key", pem.cert()}, "the key cannot be used"},
        {"another certificate's key", {"--tls-cert", pem.cert(), "--tls-key", other.key()},
         "the key does not belong to the certificate"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto run = tk770::testing::runProgram(tk770::testing::gatewayProgram(),
                                                    QStringList{"--device", "tcp:127.0.0.1:1", "--http", "127.0.0.1:0",
                                                                "--text", "off", "--binary", "off"} +
                                                        c.options);
        EXPECT_EQ(run.status, 2);
        EXPECT_TRUE(run.err.contains(c.reason)) << run.err.toStdString();
    }
}

TEST(HttpTls, APlainWebListenerOnTheNetworkWarnsAtStart)
{
    SelfSigned pem;
    if (!GatewayPair::available())
        GTEST_SKIP() << "gateway not built";
    if (!pem.make())
        GTEST_SKIP() << "no openssl program to make a certificate";
    for (const bool tls : {false, true}) {
        SCOPED_TRACE(tls ? "with TLS" : "plain");
        GatewayPair gateway;
        const QStringList options = tls ? QStringList{"--tls-cert", pem.cert(), "--tls-key", pem.key()} : QStringList{};
        ASSERT_TRUE(gateway.start(options, "booth-7f3a", "0.0.0.0:0")) << gateway.error().toStdString();
        EXPECT_EQ(gateway.gateway().stderrText().contains("warning: the web remote on 0.0.0.0:0 is plain HTTP"), !tls)
            << gateway.gateway().stderrText().toStdString();
    }
}

}  // namespace
