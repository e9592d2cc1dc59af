// The parameter image: a byte-for-byte copy of three runs of the processor's
// parameter memory, with every field reachable by name.
//
// The struct below *is* the layout table: every field is one byte (or an
// array of bytes), so the compiler lays them end to end with no padding and
// the offsets are checked once, by the static_asserts at the end of this
// file. Nothing else in the code base writes an image offset by hand.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace tk770 {

inline constexpr int channel_count = 8;     // L C R SL SR BSL BSR SW
inline constexpr int eq_channel_count = 7;  // SW has filters instead of EQ and tone
inline constexpr int band_count = 27;
inline constexpr int format_count = 5;
inline constexpr int profile_text_count = 8;
inline constexpr int profile_text_size = 40;
inline constexpr int device_info_size = 16;

struct SwFilter {
    std::uint8_t fc;   // Hz, 20..120
    std::int8_t cut;   // tenths of a dB, -120..30
    std::uint8_t q;    // Q code, Q = (25q + 50) / 100
    bool operator==(const SwFilter&) const = default;
};

struct ToneRecord {
    std::int8_t bass_gain;      // tenths of a dB
    std::uint8_t bass_freq;     // bass turnover code 0..10
    std::int8_t treble_gain;    // tenths of a dB
    std::uint8_t treble_freq;   // treble turnover code 0..9
    bool operator==(const ToneRecord&) const = default;
};

struct ParameterImage {
    // ---- run A: device addresses 0..252 ----
    std::uint8_t input_level[format_count];
    std::uint8_t level_spare[3];
    std::uint8_t preset_flags;
    std::uint8_t mic_routing;
    std::uint8_t sw_lpf_freq;
    std::uint8_t sw_lpf_mode;
    std::uint8_t output_gain[channel_count];
    std::uint8_t output_delay[channel_count];
    std::uint8_t polarity_flags;
    std::uint8_t mute_flags;
    SwFilter sw_filter[2];
    ToneRecord tone[eq_channel_count];
    std::int8_t eq[eq_channel_count][band_count];
    // ---- run B: device addresses 300..311 ----
    std::uint8_t input_format;
    std::uint8_t eight_channel_digital;
    std::uint8_t nonsync_source;
    std::uint8_t aux_source;
    std::uint8_t system_spare1;
    std::uint8_t master_volume;
    std::uint8_t test_signal_flags;
    std::uint8_t test_signal;
    std::uint8_t fade_time;
    std::uint8_t power_on_format;
    std::uint8_t master_mute;
    std::uint8_t system_spare2;
    // ---- run C: device addresses 500..883 ----
    char profile_text[profile_text_count][profile_text_size];
    char device_model[device_info_size];
    char device_serial[device_info_size];
    char firmware_version[device_info_size];
    char firmware_date[device_info_size];

    // Raw byte access for the link and the project file.
    std::uint8_t* data() { return reinterpret_cast<std::uint8_t*>(this); }
    const std::uint8_t* data() const { return reinterpret_cast<const std::uint8_t*>(this); }
    std::span<std::uint8_t> bytes(std::size_t offset, std::size_t length);
    std::span<const std::uint8_t> bytes(std::size_t offset, std::size_t length) const;

    // Writes the new-project values; fields without one keep their value.
    void reset_to_defaults();

    bool operator==(const ParameterImage&) const = default;
};

inline constexpr std::size_t image_size = 649;

// The three runs of device memory the image mirrors.
struct ImageRun {
    int image_offset;
    int length;
    int device_address;
};
inline constexpr std::array<ImageRun, 3> image_runs{{
    {0, 253, 0},
    {253, 12, 300},
    {265, 384, 500},
}};

// Device address of an image offset (0..648); -1 outside the image.
int device_address_of(int image_offset);
// Image offset of a device address, if the address lies in one of the runs.
std::optional<int> image_offset_of(int device_address);

// One row of the full read order. Rows 0..14 are also what a download stores.
struct BlockRow {
    int device_address;
    int length;
    int image_offset;
};
inline constexpr int block_count = 19;
inline constexpr int download_block_count = 15;
extern const std::array<BlockRow, block_count> BlockMap;

// Outside the bulk operations the control surface sends only these spans.
enum class WriteCommand { write, store };

enum class UnitKind {
    input_levels,
    preset_flags,
    mic_routing,
    sw_lowpass,
    output_gain,   // index: channel
    output_delay,  // index: channel
    polarity,
    mute,
    sw_section,    // index: section 0/1
    bass,          // index: channel 0..6
    treble,        // index: channel 0..6
    eq_band,       // index: channel * 27 + band
    input_selection,
    master_volume,
    test_signal,
    fade_time,
    power_on_format,
    master_mute,
};

struct WriteUnit {
    int device_address;
    int length;
    WriteCommand command;
    int image_offset() const { return *image_offset_of(device_address); }
};

// The unit that carries a control's change to the processor.
WriteUnit write_unit(UnitKind kind, int index = 0);

// Device command registers outside the image.
inline constexpr int command_register = 0x15E;   // 2 save to memory, 1 back up to IC card
inline constexpr int restart_register = 0x15F;   // 2 restart
inline constexpr std::uint8_t command_save_to_memory = 0x02;
inline constexpr std::uint8_t command_backup_ic = 0x01;
inline constexpr std::uint8_t command_restart = 0x02;
inline constexpr int network_block_address = 0x190;
inline constexpr int network_block_size = 12;
inline constexpr int serial_number_address = 0x344;

// ---- the layout, checked once ----
static_assert(sizeof(SwFilter) == 3 && sizeof(ToneRecord) == 4);
static_assert(sizeof(ParameterImage) == image_size);
static_assert(offsetof(ParameterImage, preset_flags) == 8);
static_assert(offsetof(ParameterImage, output_gain) == 12);
static_assert(offsetof(ParameterImage, output_delay) == 20);
static_assert(offsetof(ParameterImage, polarity_flags) == 28);
static_assert(offsetof(ParameterImage, sw_filter) == 30);
static_assert(offsetof(ParameterImage, tone) == 36);
static_assert(offsetof(ParameterImage, eq) == 64);
static_assert(offsetof(ParameterImage, input_format) == 253);
static_assert(offsetof(ParameterImage, master_volume) == 258);
static_assert(offsetof(ParameterImage, system_spare2) == 264);
static_assert(offsetof(ParameterImage, profile_text) == 265);
static_assert(offsetof(ParameterImage, device_model) == 585);
static_assert(offsetof(ParameterImage, device_serial) == 601);
static_assert(offsetof(ParameterImage, firmware_version) == 617);
static_assert(offsetof(ParameterImage, firmware_date) == 633);

// Image offset of a named field, derived from the struct, for the unit table.
#define TK770_OFFSET(field) static_cast<int>(offsetof(::tk770::ParameterImage, field))

}  // namespace tk770
