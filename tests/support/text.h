// Text helpers shared by the Qt tests.
#pragma once

#include <QString>

#include <string_view>

namespace tk770::testing {

// The project's UTF-8 texts (captions, status texts) as the widgets show them.
inline QString qs(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

}  // namespace tk770::testing
