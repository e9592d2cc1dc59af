#include "sim/sim_device.h"

#include "core/parameter_image.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <cstring>

namespace tk770 {

namespace {

void putText(SimMemory& memory, int address, std::string_view text)
{
    std::memcpy(memory.data() + address, text.data(), text.size());
}

int identity_address(std::size_t image_offset) { return device_address_of(static_cast<int>(image_offset)); }

}  // namespace

// ---------------------------------------------------------------- SimDevice

SimDevice::SimDevice()
{
    m_working = factoryMemory();
    m_nonvolatile = m_working;
}

SimMemory SimDevice::factoryMemory()
{
    SimMemory memory{};
    ParameterImage image{};
    image.reset_to_defaults();
    // Only the parameter runs A and B carry new-project values; run C holds
    // the profile texts (empty) and the identity, which the device supplies.
    for (int r = 0; r < 2; ++r) {
        const auto& run = image_runs[static_cast<std::size_t>(r)];
        std::memcpy(memory.data() + run.device_address, image.data() + run.image_offset,
                    static_cast<std::size_t>(run.length));
    }
    putText(memory, identity_address(offsetof(ParameterImage, device_model)), "TK770");
    putText(memory, serial_number_address, "TK7700000001");
    putText(memory, identity_address(offsetof(ParameterImage, firmware_version)), "V1.00");
    putText(memory, identity_address(offsetof(ParameterImage, firmware_date)), "2026-01-15");
    static constexpr std::uint8_t network[] = {0xC0, 0xA8, 0x00, 0x08, 0xFF, 0xFF,
                                               0xFF, 0x00, 0xC0, 0xA8, 0x00, 0x01};
    std::memcpy(memory.data() + network_block_address, network, sizeof network);
    return memory;
}

SimDevice::Outcome SimDevice::handle(Framing framing, std::span<const std::uint8_t> frame)
{
    Outcome outcome;
    Request request;
    if (parse_request(framing, frame, request) != FrameError::none) return outcome;

    const auto first = static_cast<std::size_t>(request.address);
    const auto count = static_cast<std::size_t>(request.length);
    if (request.command == Command::read) {
        outcome.reply = build_read_reply(framing, request.address,
                                       std::span<const std::uint8_t>(m_working).subspan(first, count));
        return outcome;
    }

    const bool store = request.command == Command::store;
    std::copy(request.data.begin(), request.data.end(), m_working.begin() + request.address);
    if (store) {
        std::copy(request.data.begin(), request.data.end(), m_nonvolatile.begin() + request.address);
        outcome.nonvolatileChanged = true;
    }
    runCommandRegisters(request.address, request.length, store, outcome);
    outcome.reply = build_ack(framing, request.command, request.address, request.length);
    return outcome;
}

void SimDevice::runCommandRegisters(int address, int length, bool stored, Outcome& outcome)
{
    const auto covers = [&](int reg) { return reg >= address && reg < address + length; };
    // A register reads 0 once its command has been taken, so a later save
    // does not carry a command byte into the non-volatile copy.
    const auto take = [&](int reg) {
        const auto r = static_cast<std::size_t>(reg);
        m_working[r] = 0;
        if (stored) m_nonvolatile[r] = 0;
    };
    if (covers(command_register)) {
        const auto code = m_working[command_register];
        if (code == command_save_to_memory) {
            take(command_register);
            m_nonvolatile = m_working;
            outcome.nonvolatileChanged = true;
        } else if (code == command_backup_ic) {
            take(command_register);
            m_icCard = m_working;
        }
    }
    if (covers(restart_register) && m_working[restart_register] == command_restart) {
        take(restart_register);
        outcome.restart = true;
    }
}

void SimDevice::restart()
{
    m_working = m_nonvolatile;
}

void SimDevice::loadNonvolatile(const SimMemory& memory)
{
    m_nonvolatile = memory;
    m_working = memory;
}

// ------------------------------------------------------------ FaultInjector

namespace {
struct FaultNameRow {
    FaultKind kind;
    std::string_view name;
};
constexpr FaultNameRow fault_names[] = {
    {FaultKind::no_reply, "no-reply"}, {FaultKind::bad_checksum, "bad-checksum"},
    {FaultKind::short_reply, "short"},  {FaultKind::surplus, "surplus"},
    {FaultKind::delay, "delay"},        {FaultKind::close, "close"},
    {FaultKind::corrupt, "corrupt"},
};
}  // namespace

std::string_view faultName(FaultKind kind)
{
    for (const auto& row : fault_names)
        if (row.kind == kind) return row.name;
    return {};
}

namespace {
// A whole decimal number from `least` up to the largest int. `why` says
// what is wrong with anything else: not a number, or out of range.
std::optional<int> parseCount(std::string_view text, int least, const char* what, std::string* why)
{
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    const bool number = !text.empty() && end == text.data() + text.size();
    if (number && ec == std::errc{} && value >= least) return value;
    if (why != nullptr) {
        *why = std::string(what) + (number ? " out of range: " : " not a whole number: ") + std::string(text) +
               " (" + std::to_string(least) + " to " + std::to_string(std::numeric_limits<int>::max()) + ")";
    }
    return std::nullopt;
}
}  // namespace

std::optional<Fault> parseFault(std::string_view spec, std::string* why)
{
    // The one-shot form names the request after '@'.
    int at = 0;
    if (const auto sign = spec.find('@'); sign != std::string_view::npos) {
        const auto number = parseCount(spec.substr(sign + 1), 1, "request number", why);
        if (!number) return std::nullopt;
        at = *number;
        spec = spec.substr(0, sign);
    }
    const auto colon = spec.find(':');
    const auto name = spec.substr(0, colon);
    for (const auto& row : fault_names) {
        if (row.name != name) continue;
        const bool delay = row.kind == FaultKind::delay;
        // A one-shot mode is named without a period; a delay always needs
        // its milliseconds.
        if (colon == std::string_view::npos) {
            if (at == 0 || delay) return std::nullopt;
            return Fault{row.kind, at, at};
        }
        if (at != 0 && !delay) return std::nullopt;
        // A delay of 0 is merely pointless; a period of 0 has no meaning.
        const auto value = parseCount(spec.substr(colon + 1), delay ? 0 : 1, delay ? "delay in ms" : "period", why);
        if (!value) return std::nullopt;
        return Fault{row.kind, *value, at};
    }
    return std::nullopt;
}

bool FaultInjector::due(const Fault& f, long request) const
{
    return f.at != 0 ? request == f.at : request % f.value == 0;
}

std::span<const std::uint8_t> FaultInjector::alterRequest(Framing framing, std::span<const std::uint8_t> frame,
                                                          std::vector<std::uint8_t>& scratch)
{
    m_corrupted = false;
    const bool wanted = std::any_of(m_faults.begin(), m_faults.end(), [&](const Fault& f) {
        return f.kind == FaultKind::corrupt && due(f, m_requests + 1);
    });
    Request request;
    if (!wanted || parse_request(framing, frame, request) != FrameError::none || request.command == Command::read)
        return frame;
    scratch.assign(request.data.begin(), request.data.end());
    scratch.front() = static_cast<std::uint8_t>(scratch.front() ^ 0x01);
    const std::vector<std::uint8_t> data = std::move(scratch);
    scratch.assign(frame.size(), 0);
    build_request(framing, request.command, request.address, data, scratch);
    m_corrupted = true;
    return scratch;
}

FaultInjector::Verdict FaultInjector::apply(Framing framing, std::vector<std::uint8_t>& reply)
{
    ++m_requests;
    Verdict verdict;
    const auto fire = [&](FaultKind kind) {
        ++m_fired[static_cast<std::size_t>(kind)];
        verdict.fired.push_back(faultName(kind));
    };
    const auto due = [&](const Fault& f) { return this->due(f, m_requests); };
    if (m_corrupted) {
        m_corrupted = false;
        fire(FaultKind::corrupt);
    }

    for (const auto& f : m_faults) {
        if (f.kind == FaultKind::close && framing == Framing::tcp && due(f)) {
            fire(FaultKind::close);
            verdict.close = true;
            reply.clear();
            return verdict;
        }
    }
    for (const auto& f : m_faults) {
        if (f.kind == FaultKind::no_reply && due(f) && !reply.empty()) {
            fire(FaultKind::no_reply);
            reply.clear();
        }
    }
    if (reply.empty()) return verdict;

    // Fixed order, so combined faults mangle the same way every time: the
    // checksum byte is corrupted before it can be cut off.
    for (const auto kind : {FaultKind::bad_checksum, FaultKind::short_reply, FaultKind::surplus,
                            FaultKind::delay}) {
        for (const auto& f : m_faults) {
            if (f.kind != kind) continue;
            if (kind == FaultKind::delay) {
                if (f.at != 0 && m_requests != f.at) continue;
                verdict.delayMs += f.value;
                fire(kind);
                continue;
            }
            if (!due(f)) continue;
            fire(kind);
            if (kind == FaultKind::bad_checksum) {
                reply.back() = static_cast<std::uint8_t>(reply.back() ^ 0xFF);
            } else if (kind == FaultKind::short_reply) {
                reply.resize(reply.size() > 2 ? reply.size() - 2 : 0);
            } else {
                reply.insert(reply.end(), {0x00, 0x55, 0xAA});
            }
        }
    }
    return verdict;
}

long FaultInjector::firedCount(FaultKind kind) const
{
    return m_fired[static_cast<std::size_t>(kind)];
}

}  // namespace tk770
