// Any bytes on the simulator's serial line and TCP port. The first byte
// sets the size of the pieces the stream arrives in. For both framings:
// every byte fed ends up in exactly one of a frame, the dropped bytes, the
// buffer or the bytes refused for want of room; every frame handed out is a
// valid request and gets the answer its header calls for; a frame the device
// refuses gets no answer and changes no memory.
#include "core/frame_reader.h"
#include "sim/sim_device.h"
#include "fuzz_check.h"

#include <algorithm>

using namespace tk770;

namespace {

void check_answer(Framing framing, std::span<const std::uint8_t> frame, const SimDevice::Outcome& outcome)
{
    Request request;
    FUZZ_CHECK(parse_request(framing, frame, request) == FrameError::none);
    FUZZ_CHECK(request.address >= 0 && request.length >= 1 && request.address + request.length <= sim_memory_size);
    const std::size_t head = framing == Framing::serial ? 1 : 0;
    const std::size_t expected = head + 6 + (request.command == Command::read ? static_cast<std::size_t>(request.length) : 0);
    FUZZ_CHECK(outcome.reply.size() == expected);
    FUZZ_CHECK(outcome.reply[head] == static_cast<std::uint8_t>(request.command));
    FUZZ_CHECK(outcome.reply.back() == checksum(std::span(outcome.reply).first(expected - 1)));
    (void)hexBytes(frame);
}

void run_stream(Framing framing, std::size_t piece, std::span<const std::uint8_t> stream)
{
    SimDevice device;
    FrameReader reader(framing);
    std::size_t framed = 0;
    std::size_t dropped = 0;
    std::size_t refused = 0;
    for (std::size_t pos = 0; pos < stream.size(); pos += piece) {
        const auto chunk = stream.subspan(pos, std::min(piece, stream.size() - pos));
        const bool fits = reader.buffered() + chunk.size() <= reader.capacity();
        FUZZ_CHECK(reader.feed(chunk) == fits);
        if (!fits) refused += chunk.size();
        while (auto frame = reader.next()) {
            framed += frame->size();
            const auto outcome = device.handle(framing, *frame);
            check_answer(framing, *frame, outcome);
            if (outcome.restart) device.restart();
        }
        dropped += reader.take_dropped().size();
        const std::size_t fed = std::min(pos + piece, stream.size());
        FUZZ_CHECK(framed + dropped + refused + reader.buffered() == fed);
        FUZZ_CHECK(reader.buffered() <= reader.capacity());
    }
    reader.discard_partial();
    dropped += reader.take_dropped().size();
    FUZZ_CHECK(reader.buffered() == 0);
    FUZZ_CHECK(framed + dropped + refused == stream.size());
}

void run_whole(Framing framing, std::span<const std::uint8_t> frame)
{
    SimDevice device;
    const SimMemory working = device.working();
    const SimMemory nonvolatile = device.nonvolatile();
    Request request;
    const FrameError error = parse_request(framing, frame, request);
    const auto outcome = device.handle(framing, frame);
    if (error == FrameError::none) {
        check_answer(framing, frame, outcome);
        return;
    }
    FUZZ_CHECK(outcome.reply.empty() && !outcome.restart && !outcome.nonvolatileChanged);
    FUZZ_CHECK(device.working() == working && device.nonvolatile() == nonvolatile);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) return 0;
    const std::size_t piece = data[0] == 0 ? size : data[0];
    const std::span<const std::uint8_t> stream(data + 1, size - 1);
    for (const Framing framing : {Framing::serial, Framing::tcp}) {
        run_stream(framing, piece, stream);
        run_whole(framing, stream);
    }
    return 0;
}
