#include "core/field_table.h"

#include "core/cp936.h"

#include <cstring>

namespace tk770 {

namespace {

using K = FieldKind;
using S = FieldSend;
using U = UnitKind;

constexpr int tone_stride = sizeof(ToneRecord);
constexpr int filter_stride = sizeof(SwFilter);

constexpr Field scalar(std::string_view name, K kind, int offset, int min, int max, S send, U unit)
{
    return {name, {}, kind, offset, 0, {0, 0}, {0, 0}, 1, min, max, send, unit, true};
}

// A flag field whose control owns only `bits` of its byte; its values are
// exactly those bits.
constexpr Field flag_bits(std::string_view name, int offset, std::uint8_t bits, U unit)
{
    Field f = scalar(name, K::unsigned_byte, offset, 0, bits, S::unit, unit);
    f.bits = bits;
    return f;
}

constexpr Field array1(std::string_view name, K kind, int offset, int count, int min, int max, S send,
                       U unit)
{
    return {name, {}, kind, offset, 1, {count, 0}, {1, 0}, 1, min, max, send, unit, true};
}

constexpr Field member(std::string_view name, std::string_view mem, K kind, int offset, int count,
                       int stride, int min, int max, U unit)
{
    return {name, mem, kind, offset, 1, {count, 0}, {stride, 0}, 1, min, max, S::unit, unit, true};
}

constexpr Field device_text(std::string_view name, int offset)
{
    return {name, {}, K::text, offset, 0, {0, 0}, {0, 0}, device_info_size, 0, 0, S::read_only,
            U::input_levels, false};
}

// Ranges are those the controls keep; fields whose range is "any" take the
// whole byte. A flag byte whose control owns only some of its bits (the five
// preset boxes, the two MIC routing items, the master mute's bit 0) takes
// those bits and leaves the others as the processor holds them. The spares
// are changed by no control, so nothing sets them.
constexpr std::array<Field, 35> table{{
    array1("input_level", K::unsigned_byte, TK770_OFFSET(input_level), format_count, 0, 100, S::unit,
           U::input_levels),
    array1("level_spare", K::unsigned_byte, TK770_OFFSET(level_spare), 3, 0, 255, S::none, U::input_levels),
    flag_bits("preset_flags", TK770_OFFSET(preset_flags), 0x1F, U::preset_flags),
    flag_bits("mic_routing", TK770_OFFSET(mic_routing), 0x03, U::mic_routing),
    scalar("sw_lpf_freq", K::unsigned_byte, TK770_OFFSET(sw_lpf_freq), 0, 10, S::unit, U::sw_lowpass),
    scalar("sw_lpf_mode", K::unsigned_byte, TK770_OFFSET(sw_lpf_mode), 0, 4, S::unit, U::sw_lowpass),
    array1("output_gain", K::unsigned_byte, TK770_OFFSET(output_gain), channel_count, 0, 60, S::unit,
           U::output_gain),
    array1("output_delay", K::unsigned_byte, TK770_OFFSET(output_delay), channel_count, 0, 200, S::unit,
           U::output_delay),
    scalar("polarity_flags", K::unsigned_byte, TK770_OFFSET(polarity_flags), 0, 255, S::unit, U::polarity),
    scalar("mute_flags", K::unsigned_byte, TK770_OFFSET(mute_flags), 0, 255, S::unit, U::mute),
    member("sw_filter", "fc", K::unsigned_byte, TK770_OFFSET(sw_filter[0].fc), 2, filter_stride, 20, 120,
           U::sw_section),
    member("sw_filter", "cut", K::signed_byte, TK770_OFFSET(sw_filter[0].cut), 2, filter_stride, -120, 30,
           U::sw_section),
    member("sw_filter", "q", K::unsigned_byte, TK770_OFFSET(sw_filter[0].q), 2, filter_stride, 0, 38,
           U::sw_section),
    member("tone", "bass_gain", K::signed_byte, TK770_OFFSET(tone[0].bass_gain), eq_channel_count, tone_stride,
           -60, 60, U::bass),
    member("tone", "bass_freq", K::unsigned_byte, TK770_OFFSET(tone[0].bass_freq), eq_channel_count,
           tone_stride, 0, 10, U::bass),
    member("tone", "treble_gain", K::signed_byte, TK770_OFFSET(tone[0].treble_gain), eq_channel_count,
           tone_stride, -60, 60, U::treble),
    member("tone", "treble_freq", K::unsigned_byte, TK770_OFFSET(tone[0].treble_freq), eq_channel_count,
           tone_stride, 0, 9, U::treble),
    Field{"eq", {}, K::signed_byte, TK770_OFFSET(eq), 2, {eq_channel_count, band_count}, {band_count, 1}, 1,
          -60, 60, S::unit, U::eq_band, true},
    scalar("input_format", K::unsigned_byte, TK770_OFFSET(input_format), 0, 3, S::unit, U::input_selection),
    scalar("eight_channel_digital", K::unsigned_byte, TK770_OFFSET(eight_channel_digital), 0, 1, S::unit,
           U::input_selection),
    scalar("nonsync_source", K::unsigned_byte, TK770_OFFSET(nonsync_source), 0, 1, S::unit,
           U::input_selection),
    scalar("aux_source", K::unsigned_byte, TK770_OFFSET(aux_source), 0, 2, S::unit, U::input_selection),
    scalar("system_spare1", K::unsigned_byte, TK770_OFFSET(system_spare1), 0, 255, S::none,
           U::input_selection),
    scalar("master_volume", K::unsigned_byte, TK770_OFFSET(master_volume), 0, 100, S::unit, U::master_volume),
    scalar("test_signal_flags", K::unsigned_byte, TK770_OFFSET(test_signal_flags), 0, 255, S::unit,
           U::test_signal),
    scalar("test_signal", K::unsigned_byte, TK770_OFFSET(test_signal), 0, 5, S::unit, U::test_signal),
    scalar("fade_time", K::unsigned_byte, TK770_OFFSET(fade_time), 0, 9, S::unit, U::fade_time),
    scalar("power_on_format", K::unsigned_byte, TK770_OFFSET(power_on_format), 0, 5, S::unit,
           U::power_on_format),
    flag_bits("master_mute", TK770_OFFSET(master_mute), 0x01, U::master_mute),
    scalar("system_spare2", K::unsigned_byte, TK770_OFFSET(system_spare2), 0, 255, S::none, U::input_levels),
    Field{"profile_text", {}, K::text, TK770_OFFSET(profile_text), 1, {profile_text_count, 0},
          {profile_text_size, 0}, profile_text_size, 0, 0, S::text_row, U::input_levels, false},
    device_text("device_model", TK770_OFFSET(device_model)),
    device_text("device_serial", TK770_OFFSET(device_serial)),
    device_text("firmware_version", TK770_OFFSET(firmware_version)),
    device_text("firmware_date", TK770_OFFSET(firmware_date)),
}};

// The table must have no unused slots at its end.
constexpr bool table_filled()
{
    for (const auto& f : table)
        if (f.name.empty()) return false;
    return true;
}
static_assert(table_filled());

bool is_name_char(char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Reads "[n]" at pos: a plain decimal number, no sign, no leading zeros,
// short enough not to overflow.
std::optional<int> read_index(std::string_view text, std::size_t& pos)
{
    if (pos >= text.size() || text[pos] != '[') return std::nullopt;
    std::size_t p = pos + 1;
    const std::size_t start = p;
    int value = 0;
    while (p < text.size() && is_digit(text[p])) {
        if (p - start >= 4) return std::nullopt;
        value = value * 10 + (text[p] - '0');
        ++p;
    }
    const std::size_t digits = p - start;
    if (digits == 0 || (digits > 1 && text[start] == '0')) return std::nullopt;
    if (p >= text.size() || text[p] != ']') return std::nullopt;
    pos = p + 1;
    return value;
}

std::string quoted(std::string_view text)
{
    // Error texts must stay printable whatever bytes were given.
    std::string out = "'";
    for (char c : text.substr(0, 64)) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7F) {
            out += c;
        } else {
            static constexpr char hex[] = "0123456789ABCDEF";
            out += "\\x";
            out += hex[u >> 4];
            out += hex[u & 15];
        }
    }
    if (text.size() > 64) out += "...";
    out += "'";
    return out;
}

}  // namespace

std::span<const Field> field_table() { return table; }

std::string FieldRef::name() const
{
    if (!field) return {};
    std::string out(field->name);
    for (int i = 0; i < field->rank; ++i) out += "[" + std::to_string(index[i]) + "]";
    if (!field->member.empty()) {
        out += '.';
        out += field->member;
    }
    return out;
}

std::variant<FieldRef, std::string> parse_field_ref(std::string_view text)
{
    std::size_t pos = 0;
    while (pos < text.size() && is_name_char(text[pos])) ++pos;
    const std::string_view base = text.substr(0, pos);
    if (base.empty()) return "not a field name: " + quoted(text);

    const Field* family = nullptr;
    for (const Field& f : table)
        if (f.name == base) {
            family = &f;
            break;
        }
    if (!family) return "unknown field " + quoted(base);

    std::array<int, 2> index{};
    for (int i = 0; i < family->rank; ++i) {
        const std::size_t before = pos;
        const auto value = read_index(text, pos);
        if (!value) {
            if (before >= text.size() || text[before] != '[')
                return std::string(base) + " needs " + std::to_string(family->rank) +
                       (family->rank == 1 ? " index" : " indices");
            return "bad index in " + quoted(text);
        }
        if (*value >= family->extent[i])
            return "index " + std::to_string(*value) + " out of range 0.." + std::to_string(family->extent[i] - 1) +
                   " in " + quoted(text);
        index[i] = *value;
    }

    const Field* field = family;
    if (!family->member.empty()) {
        if (pos >= text.size() || text[pos] != '.') return std::string(base) + " needs a member, e.g. " +
                                                           std::string(base) + "[0]." + std::string(family->member);
        const std::size_t start = ++pos;
        while (pos < text.size() && is_name_char(text[pos])) ++pos;
        const std::string_view mem = text.substr(start, pos - start);
        field = nullptr;
        for (const Field& f : table)
            if (f.name == base && f.member == mem) {
                field = &f;
                break;
            }
        if (!field) return "unknown member " + quoted(mem) + " of " + std::string(base);
    }
    if (pos != text.size()) return "unexpected " + quoted(text.substr(pos)) + " after " + quoted(text.substr(0, pos));

    return FieldRef{field, index, field->offset + index[0] * field->stride[0] + index[1] * field->stride[1]};
}

std::variant<FieldValue, std::string> parse_field_value(const FieldRef& ref, std::string_view text)
{
    const Field& f = *ref.field;
    const std::string name = ref.name();
    if (f.send == FieldSend::read_only) return name + " is read-only";
    if (f.send == FieldSend::none) return name + " is not sent by any control and cannot be set";

    FieldValue value;
    if (f.kind == FieldKind::text) {
        const std::size_t room = static_cast<std::size_t>(f.size - 1);  // one byte for the terminator
        if (const auto problem = cp936_text_problem(text, room); !problem.empty())
            return "the text for " + name + ' ' + problem;
        auto converted = utf8_to_cp936_field(text, room);
        value.text = std::move(converted->bytes);
        return value;
    }

    std::size_t pos = 0;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '-' || text[pos] == '+')) negative = text[pos++] == '-';
    const std::size_t start = pos;
    long long number = 0;
    while (pos < text.size() && is_digit(text[pos])) {
        if (pos - start >= 9) return "value " + quoted(text) + " out of range " + std::to_string(f.min) + ".." +
                                     std::to_string(f.max) + " for " + name;
        number = number * 10 + (text[pos] - '0');
        ++pos;
    }
    if (pos == start || pos != text.size()) return "not a decimal integer: " + quoted(text);
    if (negative) number = -number;
    if (number < f.min || number > f.max)
        return "value " + std::to_string(number) + " out of range " + std::to_string(f.min) + ".." +
               std::to_string(f.max) + " for " + name;
    value.number = static_cast<int>(number);
    return value;
}

int field_number(const ParameterImage& image, const FieldRef& ref)
{
    const std::uint8_t byte = image.data()[ref.offset];
    return ref.field->kind == FieldKind::signed_byte ? static_cast<int>(static_cast<std::int8_t>(byte)) : byte;
}

std::string field_text(const ParameterImage& image, const FieldRef& ref)
{
    const char* start = reinterpret_cast<const char*>(image.data() + ref.offset);
    const void* zero = std::memchr(start, 0, ref.field->size);
    const std::size_t length = zero ? static_cast<const char*>(zero) - start : ref.field->size;
    return std::string(start, length);
}

std::string field_display_text(const ParameterImage& image, const FieldRef& ref)
{
    if (ref.field->kind == FieldKind::text) {
        const char* at = reinterpret_cast<const char*>(image.data() + ref.offset);
        return escape_controls(cp936_field_to_utf8(at, static_cast<std::size_t>(ref.field->size)));
    }
    return std::to_string(field_number(image, ref));
}

void store_field(ParameterImage& image, const FieldRef& ref, const FieldValue& value)
{
    std::uint8_t* at = image.data() + ref.offset;
    if (ref.field->kind == FieldKind::text) {
        const std::size_t n = std::min<std::size_t>(value.text.size(), ref.field->size);
        std::memset(at, 0, ref.field->size);
        std::memcpy(at, value.text.data(), n);
    } else {
        const std::uint8_t bits = ref.field->bits;
        *at = static_cast<std::uint8_t>((*at & ~bits) | (static_cast<std::uint8_t>(value.number) & bits));
    }
}

std::optional<WriteUnit> send_unit_of(const FieldRef& ref)
{
    const Field& f = *ref.field;
    switch (f.send) {
    case FieldSend::unit:
        switch (f.unit) {
        case UnitKind::output_gain:
        case UnitKind::output_delay:
        case UnitKind::sw_section:
        case UnitKind::bass:
        case UnitKind::treble: return write_unit(f.unit, ref.index[0]);
        case UnitKind::eq_band: return write_unit(f.unit, ref.index[0] * band_count + ref.index[1]);
        default: return write_unit(f.unit);
        }
    case FieldSend::text_row: return WriteUnit{device_address_of(ref.offset), f.size, WriteCommand::write};
    case FieldSend::none:
    case FieldSend::read_only: break;
    }
    return std::nullopt;
}

std::vector<std::string> fields_out_of_range(const ParameterImage& image)
{
    std::vector<std::string> out;
    for_each_field_element([&](const FieldRef& ref) {
        const Field& f = *ref.field;
        // A flag byte may hold any pattern in the bits no control owns.
        if (f.kind == FieldKind::text || !f.in_project || f.bits != 0xFF) return;
        const int value = field_number(image, ref);
        if (value < f.min || value > f.max)
            out.push_back(ref.name() + ' ' + std::to_string(value) + " (" + std::to_string(f.min) + ".." +
                          std::to_string(f.max) + ')');
    });
    return out;
}

}  // namespace tk770
