// Small helpers shared by the main window's source files.
#pragma once

#include <QString>

#include <string>
#include <string_view>

namespace tk770 {

// Core texts are UTF-8; widgets take QString.
inline QString qs(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }
inline QString qs(const std::string& s) { return qs(std::string_view(s)); }

// Sets `refreshing` for the rest of a handler and clears it on the way out,
// also when a link failure ends the handler early, so a broken connection
// cannot leave every guarded control dead.
class RefreshingScope {
public:
    explicit RefreshingScope(int& flag) : m_flag(flag) { m_flag = 1; }
    ~RefreshingScope() { m_flag = 0; }
    RefreshingScope(const RefreshingScope&) = delete;
    RefreshingScope& operator=(const RefreshingScope&) = delete;

private:
    int& m_flag;
};

}  // namespace tk770
