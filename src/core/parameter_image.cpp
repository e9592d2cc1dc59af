#include "core/parameter_image.h"

#include <cassert>
#include <cstring>

namespace tk770 {

std::span<std::uint8_t> ParameterImage::bytes(std::size_t offset, std::size_t length)
{
    assert(offset + length <= image_size);
    return {data() + offset, length};
}

std::span<const std::uint8_t> ParameterImage::bytes(std::size_t offset, std::size_t length) const
{
    assert(offset + length <= image_size);
    return {data() + offset, length};
}

void ParameterImage::reset_to_defaults()
{
    input_format = 1;
    eight_channel_digital = 0;
    nonsync_source = 0;
    aux_source = 0;
    system_spare1 = 0;
    master_volume = 70;
    fade_time = 4;
    power_on_format = 5;
    test_signal_flags = 0;
    test_signal = 0;
    system_spare2 = 83;

    // The first eight bytes are the five input levels and the three spares.
    std::memset(data(), 80, 8);
    for (auto& g : output_gain) g = 44;

    preset_flags = 0;
    mic_routing = 4;

    for (int c = 0; c < eq_channel_count; ++c) {
        tone[c] = ToneRecord{1, 3, 1, 3};
        for (auto& band : eq[c]) band = 0;
    }

    polarity_flags = 0;
    sw_filter[0] = SwFilter{60, 0, 2};
    sw_filter[1] = SwFilter{80, 0, 2};
}

int device_address_of(int image_offset)
{
    for (const auto& run : image_runs) {
        if (image_offset >= run.image_offset && image_offset < run.image_offset + run.length)
            return image_offset - run.image_offset + run.device_address;
    }
    return -1;
}

std::optional<int> image_offset_of(int device_address)
{
    for (const auto& run : image_runs) {
        if (device_address >= run.device_address && device_address < run.device_address + run.length)
            return device_address - run.device_address + run.image_offset;
    }
    return std::nullopt;
}

namespace {
constexpr BlockRow row_at(int image_offset, int length)
{
    // Device address from the run table, so a row cannot disagree with it.
    for (const auto& run : image_runs) {
        if (image_offset >= run.image_offset && image_offset < run.image_offset + run.length)
            return {image_offset - run.image_offset + run.device_address, length, image_offset};
    }
    return {-1, length, image_offset};
}

constexpr int profile_offset(int k) { return TK770_OFFSET(profile_text) + profile_text_size * k; }
}  // namespace

const std::array<BlockRow, block_count> BlockMap{{
    row_at(0, 36),
    row_at(TK770_OFFSET(tone), 28),
    row_at(TK770_OFFSET(eq[0]), 54),
    row_at(TK770_OFFSET(eq[2]), 54),
    row_at(TK770_OFFSET(eq[4]), 54),
    row_at(TK770_OFFSET(eq[6]), 27),
    row_at(TK770_OFFSET(input_format), 12),
    row_at(profile_offset(0), profile_text_size),
    row_at(profile_offset(1), profile_text_size),
    row_at(profile_offset(2), profile_text_size),
    row_at(profile_offset(3), profile_text_size),
    row_at(profile_offset(4), profile_text_size),
    row_at(profile_offset(5), profile_text_size),
    row_at(profile_offset(6), profile_text_size),
    row_at(profile_offset(7), profile_text_size),
    // The serial number is read before the model.
    row_at(TK770_OFFSET(device_serial), device_info_size),
    row_at(TK770_OFFSET(device_model), device_info_size),
    row_at(TK770_OFFSET(firmware_version), device_info_size),
    row_at(TK770_OFFSET(firmware_date), device_info_size),
}};

WriteUnit write_unit(UnitKind kind, int index)
{
    auto w = [](int offset, int length) { return WriteUnit{device_address_of(offset), length, WriteCommand::write}; };
    auto s = [](int offset, int length) { return WriteUnit{device_address_of(offset), length, WriteCommand::store}; };
    switch (kind) {
    case UnitKind::input_levels: return w(TK770_OFFSET(input_level), format_count);
    case UnitKind::preset_flags: return w(TK770_OFFSET(preset_flags), 1);
    case UnitKind::mic_routing: return w(TK770_OFFSET(mic_routing), 1);
    case UnitKind::sw_lowpass: return w(TK770_OFFSET(sw_lpf_freq), 2);
    case UnitKind::output_gain: return w(TK770_OFFSET(output_gain) + index, 1);
    case UnitKind::output_delay: return w(TK770_OFFSET(output_delay) + index, 1);
    case UnitKind::polarity: return w(TK770_OFFSET(polarity_flags), 1);
    case UnitKind::mute: return w(TK770_OFFSET(mute_flags), 1);
    case UnitKind::sw_section: return w(TK770_OFFSET(sw_filter) + 3 * index, 3);
    case UnitKind::bass: return w(TK770_OFFSET(tone) + 4 * index, 2);
    case UnitKind::treble: return w(TK770_OFFSET(tone) + 4 * index + 2, 2);
    case UnitKind::eq_band: return w(TK770_OFFSET(eq) + index, 1);
    case UnitKind::input_selection: return w(TK770_OFFSET(input_format), 5);
    case UnitKind::master_volume: return w(TK770_OFFSET(master_volume), 1);
    case UnitKind::test_signal: return w(TK770_OFFSET(test_signal_flags), 2);
    case UnitKind::fade_time: return s(TK770_OFFSET(fade_time), 1);
    case UnitKind::power_on_format: return s(TK770_OFFSET(power_on_format), 1);
    case UnitKind::master_mute: return w(TK770_OFFSET(master_mute), 1);
    }
    return {-1, 0, WriteCommand::write};
}

}  // namespace tk770
