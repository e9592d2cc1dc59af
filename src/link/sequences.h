// The device sequences that move the whole parameter image or talk to the
// processor as a whole: connect and disconnect, read all, download all,
// save, back-up, restart, and the serial-only network and serial-number
// frames. Written once against DeviceLink so the window and the command-line
// tool run the same steps; the window plugs its display work in via hooks.
#pragma once

#include "core/device_link.h"
#include "core/parameter_image.h"
#include "core/status_texts.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tk770 {

// Over TCP the restart acknowledgement may take as long as the serial port
// is allowed to wait for it, and then some.
inline constexpr int restart_reply_wait_ms = 15000;
inline constexpr int serial_number_size = 16;
// Longest address text the edit boxes hand on.
inline constexpr std::size_t max_address_text = 19;

// What the window plugs in. Every hook may be left empty (the tool does).
struct SequenceHooks {
    // Fill the profile dialog from the device-information fields.
    std::function<void()> decode_device_info;
    // Repaint the controls from the image; runs with *refreshing at 1.
    std::function<void()> refresh_display;
    // Pink noise, every test-signal box unchecked.
    std::function<void()> reset_test_signals;
    // Network mode: make the TCP connection (throws LinkError on failure)
    // and return the host text it reached.
    std::function<std::string()> tcp_connect;
    std::function<void()> tcp_disconnect;
    int* refreshing = nullptr;
};

enum class Outcome { skipped, succeeded, failed };

// One download step as it went: step 1..16, its result (0 or -1).
using DownloadProgress = std::function<void(int step, int step_count, int result)>;

struct DownloadStep {
    Command command;     // store for the blocks, write for the save byte
    int device_address;
    int length;
    int image_offset;    // -1: the save-to-memory byte
};
inline constexpr int download_step_count = 16;
// Blocks 1-7, the save-to-memory byte, blocks 8-15: the parameters are
// committed before the long profile texts go down.
const std::array<DownloadStep, download_step_count>& download_steps();

// The processor's own network block: IP address, mask, gateway.
struct NetworkSettings {
    std::array<std::uint8_t, network_block_size> bytes{};
    std::string ip_text() const;
    std::string mask_text() const;
    std::string gateway_text() const;
};

// A dotted quad of four decimal numbers 0..255 with one to three digits
// each, and nothing else; leading zeros read as decimal ("010" is 10).
std::optional<std::array<std::uint8_t, 4>> parse_address(std::string_view text);
// Four decimal numbers joined by ".", without leading zeros.
std::string format_address(const std::uint8_t* four);

class DeviceSequences {
public:
    DeviceSequences(DeviceLink& link, ParameterImage& image, SequenceHooks hooks = {});

    SequenceHooks& hooks() { return m_hooks; }
    DeviceLink& link() { return m_link; }

    // Reads the 19 blocks in BlockMap order into the image; every failed read
    // adds 1 to error_count and the rest still run. Returns the failures.
    int read_image();
    // Opens serial_port at 38,400 baud 8N1 with the normal read time-out.
    void open_serial_port();

    // The connect command. Serial: nothing while connected, else open the
    // port and read. Network: while not connected make the TCP connection
    // and read through tcp_connected(); while connected read afresh.
    Outcome connect();
    // The TCP connection is up: report it, mark the link up, read everything.
    Outcome tcp_connected(std::string_view host);
    void disconnect();

    // The Read All command: the image afresh while the link is up.
    Outcome read_all();
    Outcome download_all(const DownloadProgress& progress = {});
    Outcome save_to_memory();
    Outcome backup_ic();
    Outcome restart();

    // Serial port only, whatever network_mode says; silent on failure and
    // leave error_count and connected alone.
    std::optional<NetworkSettings> read_network_settings();
    // False (and nothing sent) when a text is not a valid address.
    bool write_network_settings(std::string_view ip, std::string_view mask, std::string_view gateway);
    // At most 16 characters go down; a shorter text is zero-filled.
    void store_serial_number(std::string_view text);

private:
    // Connect's read: the image afresh, and the link marked up when it came.
    Outcome read_on_connect();
    bool read_and_judge();
    Outcome write_command_byte(int address, std::uint8_t value, std::string_view ok, std::string_view fail);
    void message(std::string_view text);
    void link_text(std::string_view text);
    void refresh();
    void send_serial_frame(std::span<const std::uint8_t> frame, std::span<std::uint8_t> reply, int* count);

    DeviceLink& m_link;
    ParameterImage& m_image;
    SequenceHooks m_hooks;
};

}  // namespace tk770
