// Any "name=value" pair as the command-line tool's set arguments. A
// reference that parses names one element inside the image and prints back
// to a name that parses to the same element; a value that parses stores
// within the field's range and touches no byte outside the field.
#include "core/field_table.h"
#include "fuzz_check.h"

#include <cstring>

using namespace tk770;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const auto eq = input.find('=');
    const std::string_view name = input.substr(0, eq);
    const std::string_view value_text = eq == std::string_view::npos ? std::string_view{} : input.substr(eq + 1);

    const auto parsed = parse_field_ref(name);
    if (const auto* error = std::get_if<std::string>(&parsed)) {
        FUZZ_CHECK(!error->empty());
        return 0;
    }
    const FieldRef ref = std::get<FieldRef>(parsed);
    FUZZ_CHECK(ref.field != nullptr);
    FUZZ_CHECK(ref.offset >= 0 && ref.offset + ref.field->size <= static_cast<int>(image_size));

    const auto again = parse_field_ref(ref.name());
    FUZZ_CHECK(std::holds_alternative<FieldRef>(again));
    FUZZ_CHECK(std::get<FieldRef>(again).field == ref.field && std::get<FieldRef>(again).offset == ref.offset);

    (void)send_unit_of(ref);
    if (eq == std::string_view::npos) return 0;

    const auto value = parse_field_value(ref, value_text);
    if (const auto* error = std::get_if<std::string>(&value)) {
        FUZZ_CHECK(!error->empty());
        return 0;
    }
    ParameterImage image{};
    std::memset(image.data(), 0xA5, image_size);
    const ParameterImage before = image;
    store_field(image, ref, std::get<FieldValue>(value));

    const int begin = ref.offset;
    const int end = ref.offset + ref.field->size;
    FUZZ_CHECK(std::memcmp(image.data(), before.data(), static_cast<std::size_t>(begin)) == 0);
    FUZZ_CHECK(std::memcmp(image.data() + end, before.data() + end, image_size - static_cast<std::size_t>(end)) == 0);
    if (ref.field->kind == FieldKind::text) {
        FUZZ_CHECK(field_text(image, ref) == std::get<FieldValue>(value).text);
        FUZZ_CHECK(image.data()[end - 1] == 0);  // room is always left for the terminator
    } else {
        // Only the field's own bits take the value; the rest of its byte stays.
        const int bits = ref.field->bits;
        const int n = field_number(image, ref);
        const int owned = bits == 0xFF ? n : (image.data()[ref.offset] & bits);
        FUZZ_CHECK(owned == std::get<FieldValue>(value).number);
        FUZZ_CHECK(owned >= ref.field->min && owned <= ref.field->max);
        FUZZ_CHECK((image.data()[ref.offset] & ~bits) == (before.data()[ref.offset] & ~bits));
    }
    return 0;
}
