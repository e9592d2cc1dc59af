// The back-off for wrong tokens, shared by every remote that takes one (the
// text protocol's auth line, the web remote's bearer header and login form).
// Each wrong token from an address makes the next refusal to that address
// wait twice as long, up to a ceiling; the right token is answered at once
// and clears the address's record. Guessing then costs time per address
// whatever the listener or the number of connections used.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QString>

#include <chrono>
#include <functional>

namespace tk770 {

struct TokenBackoff {
    std::chrono::milliseconds first{200};              // the first wrong token's wait
    std::chrono::milliseconds ceiling{5000};           // no refusal waits longer
    std::chrono::milliseconds forget{15 * 60 * 1000};  // quiet this long: a fresh start
    int maxPeers = 4096;                               // addresses remembered at once
};

class TokenGuard {
public:
    using Clock = std::chrono::steady_clock;
    using Timing = TokenBackoff;

    // `token` empty: no authentication, every check passes. `now` is for
    // tests that step time by hand.
    explicit TokenGuard(QByteArray token = {}, Timing timing = {}, std::function<Clock::time_point()> now = {});

    void setToken(QByteArray token) { m_token = std::move(token); }
    bool required() const { return !m_token.isEmpty(); }
    const QByteArray& token() const { return m_token; }

    struct Verdict {
        bool accepted = false;
        std::chrono::milliseconds wait{0};  // how long the refusal is held back
    };
    // Judges `presented` from `peer`.
    Verdict check(const QHostAddress& peer, const QByteArray& presented);
    // The same for a judgement made elsewhere (a token compared by another
    // layer).
    Verdict record(const QHostAddress& peer, bool right);

    // Wrong tokens counted against `peer` since its last right one.
    int failures(const QHostAddress& peer) const;

private:
    struct Record {
        int failures = 0;
        Clock::time_point last;
    };
    void forgetStale(Clock::time_point now);
    // One key per host, whether it came through IPv4 or IPv6.
    static QString keyOf(const QHostAddress& peer);

    QByteArray m_token;
    Timing m_timing;
    std::function<Clock::time_point()> m_now;
    QHash<QString, Record> m_peers;
};

}  // namespace tk770
