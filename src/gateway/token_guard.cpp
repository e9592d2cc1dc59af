#include "gateway/token_guard.h"

#include "gateway/gateway_options.h"

#include <algorithm>

namespace tk770 {

TokenGuard::TokenGuard(QByteArray token, Timing timing, std::function<Clock::time_point()> now)
    : m_token(std::move(token)), m_timing(timing), m_now(std::move(now))
{
    if (!m_now) m_now = [] { return Clock::now(); };
}

QString TokenGuard::keyOf(const QHostAddress& peer)
{
    bool mapped = false;
    const quint32 v4 = peer.toIPv4Address(&mapped);
    return mapped ? QHostAddress(v4).toString() : peer.toString();
}

TokenGuard::Verdict TokenGuard::check(const QHostAddress& peer, const QByteArray& presented)
{
    if (!required()) return {true, {}};
    return record(peer, tokenMatches(presented, m_token));
}

TokenGuard::Verdict TokenGuard::record(const QHostAddress& address, bool right)
{
    const QString peer = keyOf(address);
    if (right) {
        m_peers.remove(peer);
        return {true, {}};
    }
    const Clock::time_point now = m_now();
    forgetStale(now);
    auto it = m_peers.find(peer);
    if (it != m_peers.end() && now - it->last >= m_timing.forget) it->failures = 0;
    if (it == m_peers.end()) {
        // A flood of addresses must not grow the gateway: past the bound the
        // oldest record goes.
        if (m_peers.size() >= m_timing.maxPeers) {
            auto oldest = std::min_element(m_peers.begin(), m_peers.end(),
                                           [](const Record& a, const Record& b) { return a.last < b.last; });
            m_peers.erase(oldest);
        }
        it = m_peers.insert(peer, Record{});
    }
    it->failures = std::min(it->failures + 1, 30);
    it->last = now;
    // 1, 2, 4 … times the first wait, never more than the ceiling.
    auto wait = m_timing.first;
    for (int i = 1; i < it->failures && wait < m_timing.ceiling; ++i) wait *= 2;
    return {false, std::min(wait, m_timing.ceiling)};
}

int TokenGuard::failures(const QHostAddress& peer) const
{
    const auto it = m_peers.constFind(keyOf(peer));
    if (it == m_peers.constEnd() || m_now() - it->last >= m_timing.forget) return 0;
    return it->failures;
}

void TokenGuard::forgetStale(Clock::time_point now)
{
    // Only when the table is full: a walk per wrong token is not needed.
    if (m_peers.size() < m_timing.maxPeers) return;
    m_peers.removeIf([&](const auto& entry) { return now - entry.value().last >= m_timing.forget; });
}

}  // namespace tk770
