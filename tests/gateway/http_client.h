// What the web remote's tests and benchmarks share: the simulator and the
// gateway with every listener on a free port, a blocking HTTP client
// (QNetworkAccessManager), hand-made requests over a raw socket (for what a
// well-behaved client never sends), and a WebSocket that keeps its messages.
#pragma once

#include "gateway/gateway_fixture.h"
#include "support/sim_process.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTcpSocket>
#include <QWebSocket>

namespace tk770::testing {

// tk770-gateway in front of tk770-sim, every listener on a free loopback
// port; both have announced themselves and read the processor when start()
// returns true.
class GatewayPair {
public:
    static bool available() { return SimProcess::available() && QFile::exists(gatewayProgram()); }

    // With a token, the gateway reads it from a file of this helper's.
    // `http`: the web listener's address ("127.0.0.1:0" when empty).
    bool start(const QStringList& extra = {}, const QByteArray& token = {}, const QString& http = {})
    {
        QStringList options = extra;
        if (!token.isEmpty()) {
            QFile file(scratchPath(QStringLiteral("token")));
            if (!file.open(QIODevice::WriteOnly) || file.write(token + '\n') < 0) {
                m_error = QStringLiteral("cannot write the token file");
                return false;
            }
            options << QStringLiteral("--token-file") << file.fileName();
        }
        if (!m_sim.start(SimProcess::tcpArgs())) {
            m_error = m_sim.error();
            return false;
        }
        const QStringList args{"--device", QStringLiteral("tcp:127.0.0.1:%1").arg(m_sim.tcpPort()),
                               "--http",   http.isEmpty() ? QStringLiteral("127.0.0.1:0") : http,
                               "--text",   "127.0.0.1:0",
                               "--binary", "127.0.0.1:0"};
        if (!m_gateway.start(args + options)) {
            m_error = m_gateway.error();
            return false;
        }
        return true;
    }
    // "ADDR:PORT" of an announced listener ("http", "text", "binary").
    QString listener(const QString& name) const
    {
        for (const QString& line : m_gateway.lines())
            if (line.startsWith(name + ' ') && m_gateway.announcedPort(name))
                return line.mid(name.size() + 1);
        return {};
    }
    quint16 port(const QString& name) const { return quint16(m_gateway.announcedPort(name)); }
    static QHostAddress host() { return QHostAddress(QHostAddress::LocalHost); }

    SimProcess& sim() { return m_sim; }
    SimProcess& gateway() { return m_gateway; }
    QString error() const { return m_error; }
    // A file in a folder that lives as long as this object (token files).
    QString scratchPath(const QString& name) { return m_sim.scratchPath(name); }

private:
    SimProcess m_sim;
    SimProcess m_gateway{gatewayProgram()};
    QString m_error;
};

struct HttpReply {
    int status = 0;  // 0: no response at all
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers;

    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
    QByteArray header(const QByteArray& name) const
    {
        for (const auto& [key, value] : headers)
            if (key.compare(name, Qt::CaseInsensitive) == 0)
                return value;
        return {};
    }
    bool hasCorsHeader() const
    {
        for (const auto& pair : headers)
            if (pair.first.toLower().startsWith("access-control-"))
                return true;
        return false;
    }
};

class HttpClient {
public:
    explicit HttpClient(QString base) : m_base(std::move(base)) {}

    // Cookies the gateway sets are kept and sent back, as a browser would.
    HttpReply get(const QString& path, const QList<QPair<QByteArray, QByteArray>>& headers = {})
    {
        return send("GET", path, {}, headers);
    }
    HttpReply post(const QString& path, const QByteArray& body,
                   QList<QPair<QByteArray, QByteArray>> headers = {{"Content-Type", "application/json"}})
    {
        return send("POST", path, body, headers);
    }
    HttpReply send(const QByteArray& verb, const QString& path, const QByteArray& body,
                   const QList<QPair<QByteArray, QByteArray>>& headers)
    {
        QNetworkRequest request(QUrl(m_base + path));
        for (const auto& [name, value] : headers)
            request.setRawHeader(name, value);
        QNetworkReply* reply = m_manager.sendCustomRequest(request, verb, body);
        waitUntil([reply] { return reply->isFinished(); }, 10000);
        HttpReply result;
        result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        result.body = reply->readAll();
        result.headers = reply->rawHeaderPairs();
        reply->deleteLater();
        return result;
    }
    QNetworkAccessManager& manager() { return m_manager; }

private:
    QString m_base;
    QNetworkAccessManager m_manager;
};

// Writes `request` as it is and reads until the gateway closes or a whole
// response (head and Content-Length body) has come.
inline HttpReply rawRequest(const QHostAddress& host, quint16 port, const QByteArray& request)
{
    QTcpSocket socket;
    socket.connectToHost(host, port);
    HttpReply result;
    if (!socket.waitForConnected(5000))
        return result;
    socket.write(request);
    QByteArray data;
    auto complete = [&] {
        const qsizetype end = data.indexOf("\r\n\r\n");
        if (end < 0)
            return false;
        const qsizetype at = data.toLower().indexOf("content-length:");
        if (at < 0 || at > end)
            return true;
        const qsizetype eol = data.indexOf("\r\n", at);
        const qsizetype length = data.mid(at + 15, eol - at - 15).trimmed().toLongLong();
        return data.size() >= end + 4 + length;
    };
    waitUntil([&] {
        data += socket.readAll();
        return complete() || socket.state() == QAbstractSocket::UnconnectedState;
    }, 5000);
    data += socket.readAll();
    const qsizetype end = data.indexOf("\r\n\r\n");
    if (!data.startsWith("HTTP/1.1 ") || end < 0)
        return result;
    result.status = data.mid(9, 3).toInt();
    const QList<QByteArray> lines = data.left(end).split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            result.headers.append({lines[i].left(colon).trimmed(), lines[i].mid(colon + 1).trimmed()});
    }
    result.body = data.mid(end + 4);
    return result;
}

// One connection for what a well-behaved client never sends: bytes written
// as given (in as many pieces as the test likes), responses taken one by one.
class RawConnection {
public:
    bool open(const QHostAddress& host, quint16 port)
    {
        m_socket.connectToHost(host, port);
        return m_socket.waitForConnected(5000);
    }
    void send(const QByteArray& bytes)
    {
        m_socket.write(bytes);
        m_socket.flush();
    }
    // The next whole response; status 0 when none came in time or the
    // gateway closed first.
    HttpReply next(int ms = 5000)
    {
        HttpReply reply;
        waitUntil([&] {
            m_data += m_socket.readAll();
            return take(reply) || m_socket.state() == QAbstractSocket::UnconnectedState;
        }, ms);
        if (reply.status == 0) {
            m_data += m_socket.readAll();
            take(reply);
        }
        return reply;
    }
    bool closedWithin(int ms)
    {
        return waitUntil([&] {
            m_data += m_socket.readAll();
            return m_socket.state() == QAbstractSocket::UnconnectedState;
        }, ms);
    }
    QTcpSocket& socket() { return m_socket; }

private:
    bool take(HttpReply& reply)
    {
        const qsizetype end = m_data.indexOf("\r\n\r\n");
        if (end < 0 || !m_data.startsWith("HTTP/1.1 "))
            return false;
        HttpReply r;
        r.status = m_data.mid(9, 3).toInt();
        const QList<QByteArray> lines = m_data.left(end).split('\n');
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines[i].indexOf(':');
            if (colon > 0)
                r.headers.append({lines[i].left(colon).trimmed(), lines[i].mid(colon + 1).trimmed()});
        }
        const qsizetype length = r.header("Content-Length").toLongLong();
        if (m_data.size() < end + 4 + length)
            return false;
        r.body = m_data.mid(end + 4, length);
        m_data.remove(0, end + 4 + length);
        reply = r;
        return true;
    }

    QTcpSocket m_socket;
    QByteArray m_data;
};

// A WebSocket that keeps every text message it receives.
class WebSocketClient {
public:
    WebSocketClient()
    {
        QObject::connect(&m_socket, &QWebSocket::textMessageReceived,
                         [this](const QString& message) { m_messages.append(QJsonDocument::fromJson(message.toUtf8()).object()); });
    }
    // True once open, false when refused or not open within the wait.
    bool open(const QString& url, const QList<QPair<QByteArray, QByteArray>>& headers = {})
    {
        QNetworkRequest request{QUrl(url)};
        for (const auto& [name, value] : headers)
            request.setRawHeader(name, value);
        bool ended = false;
        QObject::connect(&m_socket, &QWebSocket::disconnected, [&ended] { ended = true; });
        m_socket.open(request);
        waitUntil([&] { return ended || m_socket.state() == QAbstractSocket::ConnectedState; }, 5000);
        QObject::disconnect(&m_socket, &QWebSocket::disconnected, nullptr, nullptr);
        return m_socket.state() == QAbstractSocket::ConnectedState;
    }
    // Waits for a message of `type` with the given key (for "change") and
    // returns it; empty when none came.
    QJsonObject waitFor(const QString& type, const QString& key = {}, int ms = 5000)
    {
        QJsonObject found;
        waitUntil([&] {
            for (qsizetype i = 0; i < m_messages.size(); ++i) {
                const QJsonObject& m = m_messages[i];
                if (m.value("type").toString() == type && (key.isEmpty() || m.value("key").toString() == key)) {
                    found = m;
                    m_messages.remove(0, i + 1);
                    return true;
                }
            }
            return false;
        }, ms);
        return found;
    }
    QList<QJsonObject>& messages() { return m_messages; }
    QWebSocket& socket() { return m_socket; }

private:
    QWebSocket m_socket;
    QList<QJsonObject> m_messages;
};

}  // namespace tk770::testing
