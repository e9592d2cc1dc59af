#include "link/sequences.h"

#include <algorithm>
#include <cstring>

namespace tk770 {

namespace {

// Restores a TCP reply wait that was raised for one slow reply, also when
// the reply never came and the transport threw.
class RaisedReplyWait {
public:
    RaisedReplyWait(TcpTransport* control, int milliseconds) : m_control(control)
    {
        if (!m_control) return;
        m_saved = m_control->reply_wait_ms();
        m_control->set_reply_wait_ms(std::max(m_saved, milliseconds));
    }
    ~RaisedReplyWait()
    {
        if (m_control) m_control->set_reply_wait_ms(m_saved);
    }
    RaisedReplyWait(const RaisedReplyWait&) = delete;
    RaisedReplyWait& operator=(const RaisedReplyWait&) = delete;

private:
    TcpTransport* m_control;
    int m_saved = 0;
};

}  // namespace

const std::array<DownloadStep, download_step_count>& download_steps()
{
    static const std::array<DownloadStep, download_step_count> steps = [] {
        std::array<DownloadStep, download_step_count> s{};
        int k = 0;
        for (int row = 0; row < download_block_count; ++row) {
            if (row == 7) s[k++] = {Command::write, command_register, 1, -1};
            const BlockRow& b = BlockMap[row];
            s[k++] = {Command::store, b.device_address, b.length, b.image_offset};
        }
        return s;
    }();
    return steps;
}

std::optional<std::array<std::uint8_t, 4>> parse_address(std::string_view text)
{
    if (text.size() > max_address_text) return std::nullopt;
    std::array<std::uint8_t, 4> octets{};
    std::size_t pos = 0;
    for (int k = 0; k < 4; ++k) {
        if (k > 0) {
            if (pos >= text.size() || text[pos] != '.') return std::nullopt;
            ++pos;
        }
        int value = 0;
        std::size_t digits = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
            if (++digits > 3) return std::nullopt;
            value = value * 10 + (text[pos] - '0');
            ++pos;
        }
        if (digits == 0 || value > 255) return std::nullopt;
        octets[static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(value);
    }
    if (pos != text.size()) return std::nullopt;
    return octets;
}

std::string format_address(const std::uint8_t* four)
{
    return std::to_string(four[0]) + '.' + std::to_string(four[1]) + '.' + std::to_string(four[2]) + '.' +
           std::to_string(four[3]);
}

std::string NetworkSettings::ip_text() const { return format_address(bytes.data()); }
std::string NetworkSettings::mask_text() const { return format_address(bytes.data() + 4); }
std::string NetworkSettings::gateway_text() const { return format_address(bytes.data() + 8); }

DeviceSequences::DeviceSequences(DeviceLink& link, ParameterImage& image, SequenceHooks hooks)
    : m_link(link), m_image(image), m_hooks(std::move(hooks))
{
}

void DeviceSequences::message(std::string_view text)
{
    if (auto* s = m_link.status()) s->set_message_text(text);
}

void DeviceSequences::link_text(std::string_view text)
{
    if (auto* s = m_link.status()) s->set_link_text(text);
}

void DeviceSequences::refresh()
{
    if (!m_hooks.refresh_display) return;
    if (m_hooks.refreshing) *m_hooks.refreshing = 1;
    m_hooks.refresh_display();
    if (m_hooks.refreshing) *m_hooks.refreshing = 0;
}

int DeviceSequences::read_image()
{
    int failed = 0;
    for (const BlockRow& row : BlockMap) {
        if (m_link.read_block(row.device_address, row.length, m_image.data() + row.image_offset) != 0) {
            ++failed;
            ++m_link.state().error_count;
        }
    }
    return failed;
}

void DeviceSequences::open_serial_port()
{
    auto* serial = m_link.serial();
    if (!serial) return;
    const int port = m_link.state().serial_port;
    serial->open(port);
    serial->set_read_timeout(port, normal_read_timeout_ms);
}

Outcome DeviceSequences::connect()
{
    LinkState& st = m_link.state();
    if (st.network_mode == 0) {
        if (st.connected == 1) return Outcome::skipped;
        open_serial_port();
    } else if (st.connected == 0) {
        if (!m_hooks.tcp_connect) throw LinkError("No TCP client to reach the processor with");
        const std::string host = m_hooks.tcp_connect();
        return tcp_connected(host);
    }
    return read_on_connect();
}

Outcome DeviceSequences::tcp_connected(std::string_view host)
{
    message(std::string(text_system_connected_to) + std::string(host));
    link_text(text_connected);
    m_link.state().connected = 1;
    return connect();
}

// The full read as connect and read-all judge it: any failure counted since
// the last reset drops the link; the device information is decoded only
// from a complete read.
bool DeviceSequences::read_and_judge()
{
    LinkState& st = m_link.state();
    read_image();
    if (st.error_count != 0) {
        st.connected = 0;
        message(text_connect_fail);
        link_text(text_not_connected);
        return false;
    }
    if (m_hooks.decode_device_info) m_hooks.decode_device_info();
    return true;
}

Outcome DeviceSequences::read_on_connect()
{
    LinkState& st = m_link.state();
    st.error_count = 0;
    if (!read_and_judge()) return Outcome::failed;
    st.connected = 1;
    message(text_system_connected);
    link_text(text_connected);
    refresh();
    if (m_hooks.reset_test_signals) m_hooks.reset_test_signals();
    return Outcome::succeeded;
}

void DeviceSequences::disconnect()
{
    LinkState& st = m_link.state();
    st.connected = 0;
    message(text_disconnected);
    link_text(text_not_connected);
    if (st.network_mode == 1 && m_hooks.tcp_disconnect) m_hooks.tcp_disconnect();
    if (m_hooks.reset_test_signals) m_hooks.reset_test_signals();
}

Outcome DeviceSequences::read_all()
{
    LinkState& st = m_link.state();
    if (st.connected == 0) return Outcome::skipped;
    // Not reset first: failures counted since the last reset (a parameter
    // write that failed on the serial port) fail this read too.
    if (!read_and_judge()) return Outcome::failed;
    message(text_load_success);
    refresh();
    return Outcome::succeeded;
}

Outcome DeviceSequences::download_all(const DownloadProgress& progress)
{
    LinkState& st = m_link.state();
    if (st.connected == 0) return Outcome::skipped;
    st.error_count = 0;
    // The verdict counts this download's failed steps only. error_count also
    // moves inside the serial store and write (a success resets it), so
    // judging it would pass a download whose last step alone succeeded.
    int failed = 0;
    const std::uint8_t save = command_save_to_memory;
    int step = 0;
    for (const DownloadStep& s : download_steps()) {
        ++step;
        int result;
        if (s.command == Command::write)
            result = m_link.write_block(s.device_address, s.length, &save);
        else
            result = m_link.store_block(s.device_address, s.length, m_image.data() + s.image_offset);
        if (result != 0) {
            ++failed;
            ++st.error_count;
        }
        if (progress) progress(step, download_step_count, result);
    }
    if (failed <= 1) {
        st.error_count = 0;
        message(text_download_success);
        return Outcome::succeeded;
    }
    st.connected = 0;
    message(text_connect_fail);
    link_text(text_not_connected);
    return Outcome::failed;
}

Outcome DeviceSequences::write_command_byte(int address, std::uint8_t value, std::string_view ok,
                                            std::string_view fail)
{
    if (m_link.state().connected == 0) return Outcome::skipped;
    const int result = m_link.write_block(address, 1, &value);
    message(result == 0 ? ok : fail);
    return result == 0 ? Outcome::succeeded : Outcome::failed;
}

Outcome DeviceSequences::save_to_memory()
{
    return write_command_byte(command_register, command_save_to_memory, text_save_memory_success,
                              text_save_memory_fail);
}

Outcome DeviceSequences::backup_ic()
{
    return write_command_byte(command_register, command_backup_ic, text_save_ic_card_success, text_save_ic_card_fail);
}

Outcome DeviceSequences::restart()
{
    LinkState& st = m_link.state();
    if (st.connected == 0) return Outcome::skipped;
    auto* serial = m_link.serial();
    // The serial time-out is switched on serial_port whatever the transport.
    if (serial) serial->set_read_timeout(st.serial_port, restart_read_timeout_ms);
    int result;
    {
        RaisedReplyWait wait(st.network_mode == 1 ? m_link.tcp() : nullptr,
                             restart_reply_wait_ms);
        result = m_link.write_block(restart_register, 1, &command_restart);
    }
    if (result != 0) ++st.error_count;
    if (serial) serial->set_read_timeout(st.serial_port, normal_read_timeout_ms);
    return result == 0 ? Outcome::succeeded : Outcome::failed;
}

void DeviceSequences::send_serial_frame(std::span<const std::uint8_t> frame, std::span<std::uint8_t> reply,
                                        int* count)
{
    auto* serial = m_link.serial();
    const int port = m_link.state().serial_port;
    if (!serial) {
        if (count) *count = -1;
        return;
    }
    serial->write(port, frame);
    const int n = serial->read(port, reply);
    if (count) *count = n;
}

std::optional<NetworkSettings> DeviceSequences::read_network_settings()
{
    std::array<std::uint8_t, frame_overhead(Framing::serial)> request{};
    build_read_request(Framing::serial, network_block_address, network_block_size, request);
    std::array<std::uint8_t, frame_overhead(Framing::serial) + network_block_size> reply{};
    int count = 0;
    send_serial_frame(request, reply, &count);
    if (count != static_cast<int>(reply.size())) return std::nullopt;
    if (!read_reply_ok(Framing::serial, reply, network_block_address, network_block_size)) return std::nullopt;
    NetworkSettings settings;
    std::copy_n(reply.begin() + reply_data_offset(Framing::serial), network_block_size, settings.bytes.begin());
    return settings;
}

bool DeviceSequences::write_network_settings(std::string_view ip, std::string_view mask, std::string_view gateway)
{
    std::array<std::uint8_t, network_block_size> block{};
    const std::string_view texts[3] = {ip, mask, gateway};
    for (int k = 0; k < 3; ++k) {
        const auto octets = parse_address(texts[k]);
        if (!octets) return false;
        std::copy(octets->begin(), octets->end(), block.begin() + 4 * k);
    }
    std::array<std::uint8_t, frame_overhead(Framing::serial) + network_block_size> frame{};
    build_request(Framing::serial, Command::store, network_block_address, block, frame);
    std::array<std::uint8_t, frame_overhead(Framing::serial)> ack{};
    send_serial_frame(frame, ack, nullptr);  // the acknowledgement is read and ignored
    return true;
}

void DeviceSequences::store_serial_number(std::string_view text)
{
    // Zero after a shorter text, and in every byte after it, so no stale
    // characters of a longer earlier number survive on the device.
    std::array<std::uint8_t, serial_number_size> number{};
    const std::size_t n = std::min(text.size(), static_cast<std::size_t>(serial_number_size));
    std::memcpy(number.data(), text.data(), n);
    std::array<std::uint8_t, frame_overhead(Framing::serial) + serial_number_size> frame{};
    build_request(Framing::serial, Command::store, serial_number_address, number, frame);
    std::array<std::uint8_t, frame_overhead(Framing::serial)> ack{};
    send_serial_frame(frame, ack, nullptr);
}

}  // namespace tk770
