// Every named field of the parameter image, described once for tools: the
// command-line tool's get/set/dump/diff and anything else that addresses a
// field by the name the image struct gives it ("eq[3][14]",
// "tone[1].bass_gain", "profile_text[2]").
//
// Offsets come from the struct itself (TK770_OFFSET), so the table cannot
// drift from the layout.
#pragma once

#include "core/parameter_image.h"

#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tk770 {

enum class FieldKind { unsigned_byte, signed_byte, text };

// How a changed field reaches the processor outside the bulk operations.
enum class FieldSend {
    unit,        // the control surface's partial-write unit (write_unit)
    text_row,    // the field's whole block row with write_block (profile texts)
    none,        // no control sends it; it only travels with its block
    read_only,   // reported by the processor, never written from the image
};

struct Field {
    std::string_view name;    // as the image struct names it: "tone", "eq", "master_volume"
    std::string_view member;  // record member ("bass_gain"), empty for plain fields
    FieldKind kind;
    int offset;                // image offset of element [0][0]
    int rank;                  // number of indices: 0, 1 or 2
    std::array<int, 2> extent; // count per index
    std::array<int, 2> stride; // bytes per step of each index
    int size;                  // bytes per element: 1, or the text field's width
    int min;                   // value range (numbers only)
    int max;
    FieldSend send;
    UnitKind unit;             // valid when send == unit
    bool in_project;           // stored in the project file (runs A and B)
    // The bits of the byte this field owns. A control that owns only some
    // bits of a flag byte never changes the others, and neither does a set:
    // the value lands in these bits and the rest of the byte is kept.
    std::uint8_t bits = 0xFF;
};

// The whole table, in image order.
std::span<const Field> field_table();

// A field with its indices resolved.
struct FieldRef {
    const Field* field = nullptr;
    std::array<int, 2> index{};
    int offset = 0;  // image offset of the referenced element

    // Canonical name: "eq[3][14]", "tone[1].bass_gain", "master_volume".
    std::string name() const;
};

// Parses a field reference. Strict: a known name, exactly the field's number
// of indices, each a plain decimal number in range, no blanks, nothing after.
// Returns the reference or an error text; safe on arbitrary bytes.
std::variant<FieldRef, std::string> parse_field_ref(std::string_view text);

// A value ready to be stored: a number, or the field's text bytes (CP936).
struct FieldValue {
    int number = 0;
    std::string text;
};

// Parses a value for `set`: a decimal integer in the field's range, or for a
// profile text UTF-8 that fits the field as CP936 (at most 39 bytes).
// Read-only fields and fields no control sends are refused here, so nothing
// is sent for them.
std::variant<FieldValue, std::string> parse_field_value(const FieldRef& ref, std::string_view text);

// The number held by a numeric field (signed fields as signed): the whole
// byte, as the project file holds it.
int field_number(const ParameterImage& image, const FieldRef& ref);
// The bytes of a text field up to its first zero byte, at most its width.
std::string field_text(const ParameterImage& image, const FieldRef& ref);
// A field's value as `tk770ctl get` prints it: the number, or the text as
// UTF-8 with its control characters escaped.
std::string field_display_text(const ParameterImage& image, const FieldRef& ref);
// Stores a parsed value; a text is zero-filled to the field's width, a number
// changes only the field's own bits of its byte.
void store_field(ParameterImage& image, const FieldRef& ref, const FieldValue& value);

// The span (device address, length, command) that carries a change of this
// field to the processor, or nothing when no control sends it.
std::optional<WriteUnit> send_unit_of(const FieldRef& ref);

// Calls fn(ref) for every element of every field, in table order (record
// members one after the other, each over all its indices).
template <typename Fn>
void for_each_field_element(Fn&& fn)
{
    for (const Field& f : field_table()) {
        const int n0 = f.rank >= 1 ? f.extent[0] : 1;
        const int n1 = f.rank >= 2 ? f.extent[1] : 1;
        for (int i = 0; i < n0; ++i)
            for (int j = 0; j < n1; ++j)
                fn(FieldRef{&f, {i, j}, f.offset + i * f.stride[0] + j * f.stride[1]});
    }
}

// Every numeric field of the project runs whose value lies outside the range
// its control keeps (flag bytes that controls share are any pattern), as "master_volume 169 (0..100)", in table order. A
// project written by the panel has none; a damaged or foreign file may.
std::vector<std::string> fields_out_of_range(const ParameterImage& image);

}  // namespace tk770
