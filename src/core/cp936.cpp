#include "core/cp936.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iconv.h>

namespace tk770 {

namespace {

// glibc knows the code page as "GBK"; "CP936" is an alias some builds lack
// and others have, so both are tried.
constexpr const char* cp936_names[] = {"GBK", "CP936"};

class Converter {
public:
    explicit Converter(bool to_cp936)
    {
        for (const char* name : cp936_names) {
            m_cd = to_cp936 ? iconv_open(name, "UTF-8") : iconv_open("UTF-8", name);
            if (m_cd != invalid())
                break;
        }
    }
    ~Converter()
    {
        if (ok())
            iconv_close(m_cd);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool ok() const { return m_cd != invalid(); }
    iconv_t get() const { return m_cd; }

private:
    static iconv_t invalid() { return reinterpret_cast<iconv_t>(-1); }
    iconv_t m_cd;
};

constexpr std::size_t iconv_failed = static_cast<std::size_t>(-1);

// Whole-text conversion; empty on any character that does not convert.
std::optional<std::string> utf8_to_cp936(std::string_view utf8)
{
    if (utf8.find('\0') != std::string_view::npos)
        return std::nullopt;
    Converter conv(true);
    if (!conv.ok())
        return std::nullopt;

    // Every UTF-8 character becomes at most two bytes and takes at least one.
    std::string out(utf8.size() * 2, '\0');
    char* in_ptr = const_cast<char*>(utf8.data());
    std::size_t in_left = utf8.size();
    char* out_ptr = out.data();
    std::size_t out_left = out.size();

    const std::size_t r = iconv(conv.get(), &in_ptr, &in_left, &out_ptr, &out_left);
    // A non-zero count means something was replaced by an approximation,
    // which would not read back as what the operator typed.
    if (r != 0 || in_left != 0)
        return std::nullopt;
    if (iconv(conv.get(), nullptr, nullptr, &out_ptr, &out_left) == iconv_failed)
        return std::nullopt;
    out.resize(out.size() - out_left);
    return out;
}

// Length of the longest prefix of whole characters that fits in max_bytes.
std::size_t whole_character_prefix(std::string_view cp936, std::size_t max_bytes)
{
    std::size_t end = 0;
    while (end < cp936.size()) {
        const auto lead = static_cast<unsigned char>(cp936[end]);
        const std::size_t width = (lead >= 0x81 && lead <= 0xFE) ? 2 : 1;
        if (end + width > max_bytes)
            break;
        end += width;
    }
    return end;
}

}  // namespace

std::optional<Cp936Text> utf8_to_cp936_field(std::string_view utf8, std::size_t max_bytes)
{
    auto converted = utf8_to_cp936(utf8);
    if (!converted)
        return std::nullopt;
    Cp936Text result;
    const std::size_t keep = whole_character_prefix(*converted, max_bytes);
    result.truncated = keep < converted->size();
    converted->resize(keep);
    result.bytes = std::move(*converted);
    return result;
}

bool fits_cp936(std::string_view utf8, std::size_t max_bytes)
{
    const auto converted = utf8_to_cp936(utf8);
    return converted && converted->size() <= max_bytes;
}

std::string cp936_field_to_utf8(const char* field, std::size_t field_size)
{
    if (field == nullptr || field_size == 0)
        return {};
    const void* zero = std::memchr(field, 0, field_size);
    const std::size_t length =
        zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - field) : field_size;

    std::string out;
    Converter conv(false);
    if (!conv.ok()) {
        // Without a converter only ASCII can be shown faithfully.
        for (std::size_t i = 0; i < length; ++i)
            out += (static_cast<unsigned char>(field[i]) < 0x80) ? field[i] : '?';
        return out;
    }

    constexpr std::string_view replacement = "\xEF\xBF\xBD";
    char* in_ptr = const_cast<char*>(field);
    std::size_t in_left = length;
    char buffer[256];
    while (in_left > 0) {
        char* out_ptr = buffer;
        std::size_t out_left = sizeof buffer;
        const std::size_t r = iconv(conv.get(), &in_ptr, &in_left, &out_ptr, &out_left);
        out.append(buffer, sizeof buffer - out_left);
        if (r != iconv_failed)
            break;
        if (errno == E2BIG)
            continue;
        // An invalid byte, or a lead byte cut off by the end of the field:
        // show one replacement and resynchronise on the next byte.
        out += replacement;
        ++in_ptr;
        --in_left;
        iconv(conv.get(), nullptr, nullptr, nullptr, nullptr);
    }
    return out;
}

namespace {

// Decodes one UTF-8 character strictly (no overlong forms, no surrogates);
// returns its length, 0 when the bytes are not valid UTF-8.
std::size_t utf8_character(std::string_view text, std::size_t at, char32_t& cp)
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[at + k]); };
    const unsigned char lead = byte(0);
    std::size_t n = 0;
    char32_t min = 0;
    if (lead < 0x80) {
        cp = lead;
        return 1;
    }
    if ((lead & 0xE0) == 0xC0) n = 2, cp = lead & 0x1F, min = 0x80;
    else if ((lead & 0xF0) == 0xE0) n = 3, cp = lead & 0x0F, min = 0x800;
    else if ((lead & 0xF8) == 0xF0) n = 4, cp = lead & 0x07, min = 0x10000;
    else return 0;
    if (at + n > text.size()) return 0;
    for (std::size_t k = 1; k < n; ++k) {
        if ((byte(k) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (byte(k) & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return n;
}

bool is_control(char32_t cp) { return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F); }

std::string code_point(char32_t cp)
{
    char text[16];
    std::snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(cp));
    return text;
}

}  // namespace

std::string cp936_text_problem(std::string_view utf8, std::size_t max_bytes)
{
    std::size_t bytes = 0;
    for (std::size_t at = 0; at < utf8.size();) {
        char32_t cp = 0;
        const std::size_t n = utf8_character(utf8, at, cp);
        if (n == 0) return "is not valid UTF-8 (byte " + std::to_string(at + 1) + ")";
        if (cp == 0) return "holds a zero byte";
        // Programs hand on bytes that are not UTF-8 as U+FFFD, so the mark
        // means the text that was typed was not valid UTF-8.
        if (cp == 0xFFFD) return "is not valid UTF-8";
        if (is_control(cp)) return "holds a control character (" + code_point(cp) + ")";
        const auto converted = utf8_to_cp936(utf8.substr(at, n));
        if (!converted) return "'" + std::string(utf8.substr(at, n)) + "' (" + code_point(cp) + ") has no code page 936 form";
        bytes += converted->size();
        at += n;
    }
    if (bytes > max_bytes)
        return "is " + std::to_string(bytes) + " bytes in code page 936; at most " + std::to_string(max_bytes) + " fit";
    return {};
}

std::string escape_controls(std::string_view utf8)
{
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t at = 0; at < utf8.size();) {
        char32_t cp = 0;
        std::size_t n = utf8_character(utf8, at, cp);
        if (n == 0) {
            // Not UTF-8: the byte is shown, never passed on.
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned char>(utf8[at]));
            out += hex;
            ++at;
            continue;
        }
        if (cp == '\\') out += "\\\\";
        else if (cp == '\n') out += "\\n";
        else if (cp == '\r') out += "\\r";
        else if (cp == '\t') out += "\\t";
        else if (is_control(cp)) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\u%04x", static_cast<unsigned>(cp));
            out += hex;
        } else {
            out.append(utf8.substr(at, n));
        }
        at += n;
    }
    return out;
}

}  // namespace tk770
