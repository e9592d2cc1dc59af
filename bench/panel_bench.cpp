// The main window offscreen: start-up to the window shown, and one step of
// an equaliser band slider end to end (handler, image, frame to a fake
// serial port, curve, repaint of the graph).
#include "bench_main.h"
#include "core/frame.h"
#include "gui/Main.h"

#include <QApplication>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

namespace {

// Acknowledges every frame at once, as a processor on a fast line would.
class AckingSerial : public tk770::SerialTransport {
public:
    long frames = 0;
    void open(int) override {}
    void close(int) override {}
    void set_read_timeout(int, int) override {}
    void write(int, std::span<const std::uint8_t> bytes) override
    {
        ++frames;
        // The acknowledgement echoes the request, as the processor's does;
        // the link takes no other.
        tk770::Request request;
        if (tk770::parse_request(tk770::Framing::serial, bytes, request) == tk770::FrameError::none)
            m_ack = tk770::build_ack(tk770::Framing::serial, request.command, request.address, request.length);
        else
            m_ack.clear();
    }
    int read(int, std::span<std::uint8_t> bytes) override
    {
        const std::size_t n = std::min(bytes.size(), m_ack.size());
        std::copy_n(m_ack.begin(), n, bytes.begin());
        m_ack.erase(m_ack.begin(), m_ack.begin() + static_cast<std::ptrdiff_t>(n));
        return static_cast<int>(n);
    }

private:
    std::vector<std::uint8_t> m_ack;
};

void BM_StartUpToWindowShown(benchmark::State& state)
{
    for (auto _ : state) {
        TForm1 form;
        form.show();
        QApplication::processEvents();
        benchmark::DoNotOptimize(form.isVisible());
        state.PauseTiming();
        form.close();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_StartUpToWindowShown)->Unit(benchmark::kMillisecond);

void BM_BandSliderStep(benchmark::State& state)
{
    TForm1 form;
    AckingSerial serial;
    form.setTransports(&serial, nullptr);
    form.linkState().serial_port = 1;
    form.linkState().connected = 1;
    form.show();
    QApplication::processEvents();
    QSlider* band = form.BandSliders[14];
    int position = 60;
    for (auto _ : state) {
        position = position == 60 ? 40 : 60;
        band->setValue(position);
        form.PaintBox1->repaint();
    }
    if (serial.frames != static_cast<long>(state.iterations())) state.SkipWithError("a step sent no frame");
    state.counters["frames"] = static_cast<double>(serial.frames);
}
BENCHMARK(BM_BandSliderStep)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) { return run_benchmarks<QApplication>(argc, argv); }
