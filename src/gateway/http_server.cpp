#include "gateway/http_server.h"

// Beast speaks std::string_view like the rest of this file.
#define BOOST_BEAST_USE_STD_STRING_VIEW

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>
#include <openssl/pem.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <cctype>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

namespace tk770 {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;
using error_code = boost::system::error_code;
using Clock = std::chrono::steady_clock;

namespace {

// What a refused request may still send before its connection is closed,
// read and dropped so the client sees the refusal instead of a reset.
constexpr std::size_t maxDrainBytes = 64 * 1024;
constexpr auto drainTime = std::chrono::seconds(2);

std::string errorJson(const std::string& reason)
{
    std::string out = R"({"ok":false,"error":")";
    for (const char c : reason) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"}";
}

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// A Host value as a browser writes it: a name or an address, a port.
bool hostSyntaxOk(std::string_view host)
{
    if (host.empty() || host.size() > 255)
        return false;
    return std::all_of(host.begin(), host.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || std::string_view("-._~:[]%").find(c) != std::string_view::npos;
    });
}

std::string plainAddress(const asio::ip::address& address)
{
    if (address.is_v6() && address.to_v6().is_v4_mapped())
        return asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6()).to_string();
    return address.to_string();
}

struct Refusal {
    int status;
    const char* reason;
};

// Beast's parser errors as the client's answer.
Refusal refusalOf(const error_code& ec)
{
    if (ec == http::error::header_limit || ec == http::error::buffer_overflow)
        return {431, "request head over 8192 bytes"};
    if (ec == http::error::body_limit)
        return {413, "body over 4096 bytes"};
    if (ec == http::error::bad_content_length)
        return {400, "bad Content-Length"};
    if (ec == http::error::bad_transfer_encoding)
        return {411, "a body needs Content-Length"};
    return {400, "malformed request"};
}

}  // namespace

// ------------------------------------------------------------------ Core

struct ConnectionBase {
    virtual ~ConnectionBase() = default;
    virtual void respond(WebResponse response) = 0;
};

struct PlainConnection : ConnectionBase {
    // When it began to wait for its current request; the longest waiting
    // connection not being answered makes room for a new one.
    Clock::time_point waitingSince = Clock::now();
    bool busy = false;  // its request is with the handler
    virtual void evict() = 0;
};

struct WebSocketConnection {
    virtual ~WebSocketConnection() = default;
    virtual void push(std::shared_ptr<const std::string> message) = 0;
};

struct HttpServer::Core {
    Core(HttpLimits l, Handler h) : limits(l), handler(std::move(h)) {}

    ~Core()
    {
        stop();
        // The io_context goes first (declared last): the connections it
        // still holds are destroyed while the counters they touch live.
    }

    void stop()
    {
        if (thread.joinable()) {
            asio::post(io, [this] {
                error_code ec;
                acceptor.close(ec);
                for (auto& weak : plain)
                    if (auto c = weak.lock())
                        c->evict();
                for (auto& weak : sockets)
                    if (auto c = weak.lock())
                        c->push(nullptr);
                io.stop();
            });
            thread.join();
        }
    }

    void run()
    {
        thread = std::thread([this] {
            // A handler that throws loses its connection, nothing more.
            for (;;) {
                try {
                    io.run();
                    return;
                } catch (const std::exception& e) {
                    std::fprintf(stderr, "tk770-gateway: web remote: %s\n", e.what());
                }
            }
        });
    }

    void accept();
    void admit(tcp::socket socket);

    // Loopback listeners take only their own address and "localhost": a
    // rebound DNS name must not reach a remote without a token.
    bool hostAccepted(std::string_view host) const
    {
        const asio::ip::address bound = endpoint.address();
        if (!bound.is_loopback())
            return true;
        const std::string port = ':' + std::to_string(endpoint.port());
        const std::string address = bound.is_v6() ? '[' + bound.to_string() + ']' : bound.to_string();
        for (const std::string& name : {address, std::string("localhost")})
            if (equalsIgnoringCase(host, name) || equalsIgnoringCase(host, name + port))
                return true;
        return false;
    }

    void registerSocket(const std::shared_ptr<WebSocketConnection>& socket)
    {
        std::erase_if(sockets, [](const auto& weak) { return weak.expired(); });
        sockets.push_back(socket);
    }

    HttpLimits limits;
    Handler handler;
    std::optional<asio::ssl::context> tls;
    tcp::endpoint endpoint;
    std::atomic<int> plainCount{0};
    std::atomic<int> socketCount{0};
    // Only touched on the server's thread.
    std::vector<std::weak_ptr<PlainConnection>> plain;
    std::vector<std::weak_ptr<WebSocketConnection>> sockets;
    std::thread thread;
    std::weak_ptr<Core> self;  // for the replies, which may outlive the server
    asio::io_context io{1};
    tcp::acceptor acceptor{io};
};

struct WebReply::Target {
    std::weak_ptr<HttpServer::Core> core;
    std::weak_ptr<ConnectionBase> connection;
    std::atomic<bool> sent{false};

    void deliver(WebResponse response)
    {
        if (sent.exchange(true))
            return;
        if (auto c = core.lock())
            asio::post(c->io, [connection = connection, response = std::move(response)]() mutable {
                if (auto target = connection.lock())
                    target->respond(std::move(response));
            });
    }
    ~Target()
    {
        if (!sent)
            deliver(WebResponse{500, "application/json", {}, errorJson("no answer"), false});
    }
};

void WebReply::send(WebResponse response) const
{
    if (m_target)
        m_target->deliver(std::move(response));
}

// ------------------------------------------------------------------ WebSocket

template <class Stream>
class WebSocketSession : public WebSocketConnection, public std::enable_shared_from_this<WebSocketSession<Stream>> {
public:
    WebSocketSession(Stream&& stream, HttpServer::Core& core) : m_ws(std::move(stream)), m_core(core)
    {
        ++m_core.socketCount;
    }
    ~WebSocketSession() override { --m_core.socketCount; }

    void accept(http::request<http::string_body> request, std::string first)
    {
        beast::get_lowest_layer(m_ws).expires_never();
        // Pings find a page that went away without closing; an open page
        // may otherwise stay quiet for hours.
        websocket::stream_base::timeout timeout = websocket::stream_base::timeout::suggested(beast::role_type::server);
        timeout.idle_timeout = std::chrono::seconds(60);
        timeout.keep_alive_pings = true;
        m_ws.set_option(timeout);
        m_ws.read_message_max(m_core.limits.maxBodyBytes);
        push(std::make_shared<const std::string>(std::move(first)));
        m_request = std::move(request);
        m_ws.async_accept(m_request, [self = this->shared_from_this()](error_code ec) {
            if (ec)
                return self->close();
            self->m_open = true;
            self->read();
            self->writeNext();
        });
    }

    // A null message closes the socket.
    void push(std::shared_ptr<const std::string> message) override
    {
        if (m_closed)
            return;
        if (!message || m_queued + message->size() > m_core.limits.maxWebSocketBacklog)
            return close();
        m_queued += message->size();
        m_queue.push_back(std::move(message));
        writeNext();
    }

private:
    void writeNext()
    {
        if (!m_open || m_writing || m_queue.empty() || m_closed)
            return;
        m_writing = true;
        m_ws.text(true);
        m_ws.async_write(asio::buffer(*m_queue.front()), [self = this->shared_from_this()](error_code ec, std::size_t) {
            self->m_writing = false;
            if (ec)
                return self->close();
            self->m_queued -= self->m_queue.front()->size();
            self->m_queue.pop_front();
            self->writeNext();
        });
    }

    void read()
    {
        m_ws.async_read(m_in, [self = this->shared_from_this()](error_code ec, std::size_t) {
            if (ec)
                return self->close();
            self->m_in.consume(self->m_in.size());
            self->push(std::make_shared<const std::string>(
                R"({"type":"error","error":"this socket only tells; send commands with POST /api/command"})"));
            self->read();
        });
    }

    void close()
    {
        if (m_closed)
            return;
        m_closed = true;
        m_queue.clear();
        error_code ec;
        beast::get_lowest_layer(m_ws).socket().close(ec);
    }

    websocket::stream<Stream> m_ws;
    HttpServer::Core& m_core;
    http::request<http::string_body> m_request;  // the handshake's, until it is answered
    beast::flat_buffer m_in;
    std::deque<std::shared_ptr<const std::string>> m_queue;
    std::size_t m_queued = 0;
    bool m_open = false;
    bool m_writing = false;
    bool m_closed = false;
};

// ------------------------------------------------------------------ HTTP

template <class Stream>
class HttpSession : public PlainConnection, public std::enable_shared_from_this<HttpSession<Stream>> {
public:
    HttpSession(Stream&& stream, HttpServer::Core& core)
        : m_stream(std::move(stream)), m_core(core), m_buffer(core.limits.maxHeadBytes + core.limits.maxBodyBytes + 512)
    {
        ++m_core.plainCount;
        error_code ec;
        const auto remote = beast::get_lowest_layer(m_stream).socket().remote_endpoint(ec);
        if (!ec)
            m_peer = plainAddress(remote.address());
    }
    ~HttpSession() override { --m_core.plainCount; }

    void start()
    {
        lowest().expires_after(idle());
        if constexpr (std::is_same_v<Stream, beast::tcp_stream>) {
            nextRequest();
        } else {
            m_stream.async_handshake(asio::ssl::stream_base::server, [self = this->shared_from_this()](error_code ec) {
                if (ec)
                    return self->evict();
                self->nextRequest();
            });
        }
    }

    void evict() override
    {
        m_closing = true;
        m_whileBusy.reset();
        error_code ec;
        lowest().socket().close(ec);
    }

    void respond(WebResponse response) override
    {
        busy = false;
        const auto keep = std::move(m_whileBusy);
        if (m_closing)
            return;
        if (response.upgrade)
            return upgrade(std::move(response.body));
        http::response<http::string_body> out{static_cast<http::status>(response.status), 11};
        out.set(http::field::content_type, response.contentType);
        for (const auto& [name, value] : response.headers)
            out.insert(name, value);
        out.body() = std::move(response.body);
        // A refused handshake ends its connection: the client waits for
        // the switch, not for another answer.
        const bool keepAlive = m_request.keep_alive() && !websocket::is_upgrade(m_request);
        out.keep_alive(keepAlive);
        out.prepare_payload();
        write(std::move(out), !keepAlive);
    }

private:
    beast::tcp_stream& lowest() { return beast::get_lowest_layer(m_stream); }
    std::chrono::milliseconds idle() const { return std::chrono::milliseconds(m_core.limits.idleMs); }

    void nextRequest()
    {
        m_parser.emplace();
        m_parser->header_limit(static_cast<std::uint32_t>(m_core.limits.maxHeadBytes));
        m_parser->body_limit(m_core.limits.maxBodyBytes);
        m_head.clear();
        m_headScreened = false;
        waitingSince = Clock::now();
        lowest().expires_after(idle());
        parse();
    }

    // Feeds what the buffer holds to the parser, then reads more. Pipelined
    // requests wait in the buffer until the one before is answered.
    void parse()
    {
        while (m_buffer.size() > 0) {
            error_code ec;
            const bool hadHead = m_parser->is_header_done();
            const std::size_t used = m_parser->put(m_buffer.data(), ec);
            if (!hadHead)  // the head's bytes exactly as the parser framed them
                m_head.append(static_cast<const char*>(m_buffer.data().data()), used);
            m_buffer.consume(used);
            // The parser bounds each piece of a head it is given; the whole
            // head, however it came, is bounded here.
            if (!m_parser->is_header_done() ? m_head.size() + m_buffer.size() > m_core.limits.maxHeadBytes
                                            : m_head.size() > m_core.limits.maxHeadBytes)
                return refuse(431, "request head over 8192 bytes");
            if (ec == http::error::need_more)
                break;
            if (ec) {
                const Refusal r = refusalOf(ec);
                return refuse(r.status, r.reason);
            }
            if (m_parser->is_header_done() && !m_headScreened) {
                m_headScreened = true;
                if (!screenHead())
                    return;
            }
            if (m_parser->is_done())
                return dispatch();
        }
        if (m_buffer.size() >= m_buffer.max_size())
            return refuse(431, "request head over 8192 bytes");
        const std::size_t room = std::min<std::size_t>(4096, m_buffer.max_size() - m_buffer.size());
        m_stream.async_read_some(m_buffer.prepare(room), [self = this->shared_from_this()](error_code ec, std::size_t n) {
            if (ec)
                return self->evict();  // gone, idle too long, or evicted
            self->m_buffer.commit(n);
            self->parse();
        });
    }

    // What a head must be for its request to be passed on; false once refused.
    bool screenHead()
    {
        const auto& head = m_parser->get();
        // A folded line is read one way by one parser and another by the
        // next: none is taken.
        if (m_head.find("\n ") != std::string::npos || m_head.find("\n\t") != std::string::npos)
            return refuse(400, "folded head line"), false;
        if (head.target().empty() || head.target().front() != '/')
            return refuse(400, "the target must be a path"), false;
        if (head.count(http::field::host) != 1)
            return refuse(400, "exactly one Host header"), false;
        const std::string_view host = head[http::field::host];
        if (!hostSyntaxOk(host))
            return refuse(400, "bad Host"), false;
        if (!m_core.hostAccepted(host))
            return refuse(421, "unknown host"), false;
        const std::size_t origins = head.count(http::field::origin);
        const std::string ownOrigin = std::string(m_core.tls ? "https://" : "http://") + std::string(host);
        if (origins > 1 || (origins == 1 && head[http::field::origin] != ownOrigin))
            return refuse(403, "cross-origin request"), false;
        if (m_parser->chunked() || head.count(http::field::transfer_encoding) > 0)
            return refuse(411, "a body needs Content-Length"), false;
        // An Upgrade not named in Connection means nothing (a proxy may have
        // left it); one that is named must be a WebSocket handshake.
        if (head.count(http::field::upgrade) > 0 && http::token_list(head[http::field::connection]).exists("upgrade") &&
            !websocket::is_upgrade(head))
            return refuse(400, "only WebSocket upgrades"), false;
        return true;
    }

    void dispatch()
    {
        m_request = m_parser->release();
        m_parser.reset();
        m_head.clear();
        lowest().expires_never();
        busy = true;
        // No read is pending while the handler has the request: the
        // connection keeps itself until it is answered or evicted.
        m_whileBusy = this->shared_from_this();
        WebRequest request;
        request.method = std::string(m_request.method_string());
        const std::string_view target = m_request.target();
        request.path = std::string(target.substr(0, target.find('?')));
        request.contentType = std::string(m_request[http::field::content_type]);
        request.authorization = std::string(m_request[http::field::authorization]);
        const auto cookies = m_request.equal_range(http::field::cookie);
        for (auto it = cookies.first; it != cookies.second; ++it)
            request.cookies.emplace_back(it->value());
        request.body = m_request.body();
        request.peer = m_peer;
        request.upgrade = websocket::is_upgrade(m_request);
        auto target_ = std::make_shared<WebReply::Target>();
        target_->core = m_core.self;
        target_->connection = this->shared_from_this();
        m_core.handler(std::move(request), WebReply(std::move(target_)));
    }

    void upgrade(std::string first)
    {
        if (m_core.socketCount >= m_core.limits.maxWebSockets)
            return refuse(503, "too many clients");
        auto socket = std::make_shared<WebSocketSession<Stream>>(std::move(m_stream), m_core);
        m_core.registerSocket(socket);
        socket->accept(std::move(m_request), std::move(first));
        m_closing = true;  // the stream is the socket's now
    }

    void refuse(int status, const char* reason)
    {
        http::response<http::string_body> out{static_cast<http::status>(status), 11};
        out.set(http::field::content_type, "application/json");
        out.body() = errorJson(reason);
        out.keep_alive(false);
        out.prepare_payload();
        write(std::move(out), true);
    }

    void write(http::response<http::string_body>&& response, bool closeAfter)
    {
        auto held = std::make_shared<http::response<http::string_body>>(std::move(response));
        lowest().expires_after(idle());
        http::async_write(m_stream, *held, [self = this->shared_from_this(), held, closeAfter](error_code ec, std::size_t) {
            if (ec)
                return self->evict();
            if (closeAfter)
                return self->drainAndClose();
            self->nextRequest();
        });
    }

    // Ends the sending side, then reads and drops what the client still
    // sends for a while, so it reads the answer rather than a reset.
    void drainAndClose()
    {
        m_closing = true;
        waitingSince = Clock::time_point{};
        error_code ec;
        lowest().socket().shutdown(tcp::socket::shutdown_send, ec);
        m_buffer.clear();
        lowest().expires_after(drainTime);
        drain();
    }

    void drain()
    {
        lowest().async_read_some(m_buffer.prepare(4096), [self = this->shared_from_this()](error_code ec, std::size_t n) {
            self->m_drained += n;
            if (ec || self->m_drained >= maxDrainBytes)
                return self->evict();
            self->drain();
        });
    }

    Stream m_stream;
    HttpServer::Core& m_core;
    beast::flat_buffer m_buffer;
    std::optional<http::request_parser<http::string_body>> m_parser;
    http::request<http::string_body> m_request;
    std::string m_head;
    std::string m_peer;
    std::shared_ptr<HttpSession> m_whileBusy;
    std::size_t m_drained = 0;
    bool m_headScreened = false;
    bool m_closing = false;
};

// ------------------------------------------------------------------ accepting

void HttpServer::Core::accept()
{
    acceptor.async_accept([this](error_code ec, tcp::socket socket) {
        if (ec == asio::error::operation_aborted || !acceptor.is_open())
            return;
        if (!ec) {
            admit(std::move(socket));
            return accept();
        }
        // Out of descriptors or the like: try again shortly, do not spin.
        auto timer = std::make_shared<asio::steady_timer>(io, std::chrono::milliseconds(100));
        timer->async_wait([this, timer](error_code) { accept(); });
    });
}

void HttpServer::Core::admit(tcp::socket socket)
{
    std::erase_if(plain, [](const auto& weak) { return weak.expired(); });
    if (int(plain.size()) >= limits.maxConnections) {
        // The connection that has waited longest for its request makes room;
        // one whose request is being answered keeps its place.
        std::shared_ptr<PlainConnection> oldest;
        for (const auto& weak : plain) {
            auto c = weak.lock();
            if (c && !c->busy && (!oldest || c->waitingSince < oldest->waitingSince))
                oldest = c;
        }
        if (!oldest) {
            error_code ec;
            socket.close(ec);
            return;
        }
        oldest->evict();
        std::erase_if(plain, [&](const auto& weak) { return weak.lock() == oldest; });
    }
    error_code ec;
    socket.set_option(tcp::no_delay(true), ec);
    std::shared_ptr<PlainConnection> connection;
    if (tls) {
        auto c = std::make_shared<HttpSession<beast::ssl_stream<beast::tcp_stream>>>(
            beast::ssl_stream<beast::tcp_stream>(beast::tcp_stream(std::move(socket)), *tls), *this);
        c->start();
        connection = c;
    } else {
        auto c = std::make_shared<HttpSession<beast::tcp_stream>>(beast::tcp_stream(std::move(socket)), *this);
        c->start();
        connection = c;
    }
    plain.push_back(connection);
}

// ------------------------------------------------------------------ HttpServer

HttpServer::HttpServer(HttpLimits limits, Handler handler)
    : m_core(std::make_shared<Core>(limits, std::move(handler)))
{
}

HttpServer::~HttpServer()
{
    m_core->stop();
}

namespace {

std::optional<asio::ssl::context> makeTlsContext(const std::string& certificatePem, const std::string& keyPem,
                                                 std::string* error)
{
    asio::ssl::context context(asio::ssl::context::tls_server);
    context.set_options(asio::ssl::context::default_workarounds | asio::ssl::context::no_sslv2 |
                        asio::ssl::context::no_sslv3 | asio::ssl::context::no_tlsv1 |
                        asio::ssl::context::no_tlsv1_1 | asio::ssl::context::single_dh_use);
    error_code ec;
    context.use_certificate_chain(asio::buffer(certificatePem), ec);
    if (ec) {
        *error = "the certificate cannot be used: " + ec.message();
        return std::nullopt;
    }
    // The key alone first, so a key of another certificate is told apart
    // from a file that holds no key at all.
    BIO* bio = BIO_new_mem_buf(keyPem.data(), static_cast<int>(keyPem.size()));
    EVP_PKEY* key = bio ? PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr) : nullptr;
    BIO_free(bio);
    if (!key) {
        *error = "the key cannot be used: no PEM private key in it";
        return std::nullopt;
    }
    const bool fits = SSL_CTX_use_PrivateKey(context.native_handle(), key) == 1 &&
                      SSL_CTX_check_private_key(context.native_handle()) == 1;
    EVP_PKEY_free(key);
    if (!fits) {
        *error = "the key does not belong to the certificate";
        return std::nullopt;
    }
    return context;
}

}  // namespace

std::string HttpServer::tlsProblem(const std::string& certificatePem, const std::string& keyPem)
{
    std::string error;
    makeTlsContext(certificatePem, keyPem, &error);
    return error;
}

bool HttpServer::useTls(const std::string& certificatePem, const std::string& keyPem, std::string* error)
{
    auto context = makeTlsContext(certificatePem, keyPem, error);
    if (!context)
        return false;
    m_core->tls.emplace(std::move(*context));
    return true;
}

bool HttpServer::listen(const std::string& address, std::uint16_t port, std::string* error)
{
    Core& core = *m_core;
    core.self = m_core;
    error_code ec;
    const asio::ip::address ip = asio::ip::make_address(address, ec);
    if (ec) {
        *error = "bad address " + address;
        return false;
    }
    const tcp::endpoint endpoint(ip, port);
    core.acceptor.open(endpoint.protocol(), ec);
    if (!ec)
        core.acceptor.set_option(asio::socket_base::reuse_address(true), ec);
    if (!ec)
        core.acceptor.bind(endpoint, ec);
    if (!ec)
        core.acceptor.listen(asio::socket_base::max_listen_connections, ec);
    if (!ec)
        core.endpoint = core.acceptor.local_endpoint(ec);
    if (ec) {
        *error = ec.message();
        error_code ignored;
        core.acceptor.close(ignored);
        return false;
    }
    core.accept();
    core.run();
    return true;
}

std::string HttpServer::address() const
{
    return m_core->endpoint.address().to_string();
}

std::uint16_t HttpServer::port() const
{
    return m_core->endpoint.port();
}

bool HttpServer::secure() const
{
    return m_core->tls.has_value();
}

void HttpServer::broadcast(std::string message)
{
    auto shared = std::make_shared<const std::string>(std::move(message));
    Core* core = m_core.get();
    asio::post(core->io, [core, shared] {
        for (const auto& weak : core->sockets)
            if (auto socket = weak.lock())
                socket->push(shared);
    });
}

int HttpServer::connectionCount() const
{
    return m_core->plainCount;
}

int HttpServer::webSocketCount() const
{
    return m_core->socketCount;
}

}  // namespace tk770
