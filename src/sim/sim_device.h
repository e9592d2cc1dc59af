// The simulated processor without any I/O: its three memories, the answer to
// one request frame and the fault injector. The Qt shell (SimServer on top of
// the link's ProcessorServer) feeds frames in and sends the replies out;
// everything that decides *what* is sent lives here so it can be tested
// without sockets or timers.
#pragma once

#include "core/frame.h"
#include "core/parameter_image.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tk770 {

inline constexpr int sim_memory_size = device_memory_size;
using SimMemory = std::array<std::uint8_t, sim_memory_size>;

class SimDevice {
public:
    // Memory as delivered from the factory (see factoryMemory()).
    SimDevice();

    // New-project parameter values, the identity texts and the network block.
    static SimMemory factoryMemory();

    struct Outcome {
        std::vector<std::uint8_t> reply;   // empty: the device stays silent
        bool nonvolatileChanged = false;   // the shell persists the state file
        bool restart = false;              // hold the reply back, then call restart()
    };

    // Answers one complete request frame. Invalid frames change nothing and
    // get no reply. A restart request returns its acknowledgement with
    // `restart` set; memory is reloaded only when the shell calls restart().
    Outcome handle(Framing framing, std::span<const std::uint8_t> frame);

    // Working memory reloaded from the non-volatile copy, as after power-up.
    void restart();

    // Boot from a saved non-volatile copy (the state file).
    void loadNonvolatile(const SimMemory& memory);
    // Puts the non-volatile copy back, working memory untouched (a save
    // that could not be persisted).
    void setNonvolatile(const SimMemory& memory) { m_nonvolatile = memory; }

    const SimMemory& working() const { return m_working; }
    const SimMemory& nonvolatile() const { return m_nonvolatile; }
    const SimMemory& icCard() const { return m_icCard; }

private:
    void runCommandRegisters(int address, int length, bool stored, Outcome& outcome);

    SimMemory m_working{};
    SimMemory m_nonvolatile{};
    SimMemory m_icCard{};  // an empty card until the first backup
};

// `corrupt` alters what a write or store carries before the device keeps it
// (the first data byte XOR 1) and acknowledges it as usual: stored data that
// differs from what was sent, which only reading it back can reveal.
enum class FaultKind { no_reply, bad_checksum, short_reply, surplus, delay, close, corrupt };

struct Fault {
    FaultKind kind = FaultKind::no_reply;
    int value = 1;  // period N, or milliseconds for delay
    int at = 0;     // one-shot: fires on this request only; 0 means periodic
};

// "no-reply:3" and the like, or the one-shot "no-reply@5" (for a delay
// "delay:MS@N"); nullopt for anything else.
// `why`, when given, says what is wrong with a known mode's number (not a
// number, or out of range); it stays empty for an unknown or malformed spec.
std::optional<Fault> parseFault(std::string_view spec, std::string* why = nullptr);
std::string_view faultName(FaultKind kind);

// Named fault modes with their own counters. Every accepted request counts
// (1-based, since start, over both transports); a mode with period N fires
// on requests N, 2N, 3N, ..., a one-shot mode on its own request only, and a
// delay without a request number on every reply. The request itself is always carried out: the
// faults model what happens to the answer on its way back, except `corrupt`,
// which changes the request on its way in (alterRequest, before the device
// handles it; a read it falls on is left alone).
class FaultInjector {
public:
    void add(const Fault& fault) { m_faults.push_back(fault); }
    bool empty() const { return m_faults.empty(); }

    struct Verdict {
        bool close = false;     // TCP: close the connection, send nothing
        int delayMs = 0;        // hold the reply back this long
        std::vector<std::string_view> fired;
    };

    // The frame the device is to handle for the coming request: `frame`
    // itself, or a copy in `scratch` whose first data byte a due `corrupt`
    // fault changed (checksum made right again, so the device takes it).
    // Call before the device handles the request, then apply() as usual.
    std::span<const std::uint8_t> alterRequest(Framing framing, std::span<const std::uint8_t> frame,
                                               std::vector<std::uint8_t>& scratch);

    // Counts one request and mangles its reply in place (an empty reply
    // stays empty).
    Verdict apply(Framing framing, std::vector<std::uint8_t>& reply);

    long requestCount() const { return m_requests; }
    long firedCount(FaultKind kind) const;

private:
    bool due(const Fault& fault, long request) const;

    std::vector<Fault> m_faults;
    long m_requests = 0;
    bool m_corrupted = false;  // alterRequest changed the request apply() counts next
    std::array<long, 7> m_fired{};
};

}  // namespace tk770
