// The web remote's transport: HTTP/1.1 and WebSocket (Boost.Beast) on a
// thread of its own, made for clients that mean harm. Every byte of every
// request goes through Beast's one parser, which enforces the head and body
// limits; this layer adds what a request must look like to be passed on at
// all (a path as target, exactly one Host naming this listener, no foreign
// Origin, no folded head lines, no chunked body, only WebSocket upgrades),
// the time a request may take, the number of connections, and what an open
// WebSocket may leave unread. What a route does is decided elsewhere: each
// request that passes is handed to the handler with a WebReply to answer it.
//
// No Qt here, and no exception leaves this layer: every error closes the
// one connection it came from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tk770 {

struct WebRequest {
    std::string method;  // "GET", "POST", …
    std::string path;    // the target up to '?'
    std::string contentType;
    std::string authorization;
    std::vector<std::string> cookies;  // every Cookie header, in order
    std::string body;
    std::string peer;      // the client's address
    bool upgrade = false;  // a WebSocket handshake
};

struct WebResponse {
    int status = 200;
    std::string contentType = "application/json";
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    // To an upgrade request: open the WebSocket, whose first message is `body`.
    bool upgrade = false;
};

// Answers one request, once, from any thread. A reply to a client that has
// gone is dropped; a request left unanswered gets a 500 when its last
// WebReply goes.
class WebReply {
public:
    struct Target;
    explicit WebReply(std::shared_ptr<Target> target) : m_target(std::move(target)) {}
    void send(WebResponse response) const;

private:
    std::shared_ptr<Target> m_target;
};

struct HttpLimits {
    std::size_t maxHeadBytes = 8192;
    std::size_t maxBodyBytes = 4096;  // also the largest WebSocket message taken
    int maxConnections = 64;          // plain HTTP connections
    int maxWebSockets = 16;
    std::size_t maxWebSocketBacklog = 256 * 1024;
    // A request must have come whole this long after the connection opened
    // or the last answer went; otherwise the connection is closed.
    int idleMs = 60'000;
};

class HttpServer {
public:
    // Called on the server's thread; must not block (hand the request on).
    using Handler = std::function<void(WebRequest, WebReply)>;

    HttpServer(HttpLimits limits, Handler handler);
    ~HttpServer();  // closes every connection and ends the thread

    // Serve HTTPS and WSS with this PEM certificate chain and key; false with
    // the reason when they cannot be used. Before listen().
    bool useTls(const std::string& certificatePem, const std::string& keyPem, std::string* error);
    // The reason a certificate and key cannot serve TLS, or empty.
    static std::string tlsProblem(const std::string& certificatePem, const std::string& keyPem);

    // Binds and starts serving; false with the system's reason.
    bool listen(const std::string& address, std::uint16_t port, std::string* error);
    std::string address() const;
    std::uint16_t port() const;
    bool secure() const;

    // Queues a text message for every open WebSocket (any thread).
    void broadcast(std::string message);

    int connectionCount() const;  // plain HTTP connections open now
    int webSocketCount() const;

    struct Core;

private:
    std::shared_ptr<Core> m_core;
};

}  // namespace tk770
