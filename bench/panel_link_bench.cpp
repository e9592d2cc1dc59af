// The main window against the simulated processor over loopback TCP: one
// band-slider step end to end (handler, frame, reply, curve, repaint) and a
// whole connect including the display refresh.
#include "bench_main.h"
#include "gui/Main.h"

#include "support/sim_process.h"
#include "core/status_texts.h"

#include <QApplication>
#include <benchmark/benchmark.h>

namespace {

using tk770::testing::SimProcess;

// A window connected to a freshly started simulator, or an error text.
struct ConnectedPanel {
    SimProcess sim;
    TForm1 form;
    QString error;

    ConnectedPanel()
    {
        if (!sim.start(SimProcess::tcpArgs())) {
            error = sim.error();
            return;
        }
        form.setErrorReporter([this](const QString& text) { error = text; });
        form.linkState().network_mode = 1;
        form.setTcpHost(sim.tcpHost());
        form.setTcpPort(sim.tcpPort());
        form.show();
        QApplication::processEvents();
        form.N17->trigger();
        if (error.isEmpty() && form.linkState().connected != 1) error = QStringLiteral("connect failed");
    }
};

void BM_BandSliderStepOverTcp(benchmark::State& state)
{
    ConnectedPanel panel;
    if (!panel.error.isEmpty()) {
        state.SkipWithError(panel.error.toStdString().c_str());
        return;
    }
    QSlider* band = panel.form.BandSliders[14];
    const int draws = panel.form.drawCount();
    int position = 60;
    for (auto _ : state) {
        position = position == 60 ? 40 : 60;
        band->setValue(position);
        panel.form.PaintBox1->repaint();
    }
    if (!panel.error.isEmpty()) state.SkipWithError(panel.error.toStdString().c_str());
    if (panel.form.linkState().connected != 1) state.SkipWithError("the link went down");
    state.counters["redraws"] = static_cast<double>(panel.form.drawCount() - draws);
}
BENCHMARK(BM_BandSliderStepOverTcp)->Unit(benchmark::kMicrosecond);

void BM_ConnectOverTcpWithRefresh(benchmark::State& state)
{
    ConnectedPanel panel;
    if (!panel.error.isEmpty()) {
        state.SkipWithError(panel.error.toStdString().c_str());
        return;
    }
    const QString connected = QString::fromUtf8(tk770::text_system_connected.data());
    for (auto _ : state) {
        state.PauseTiming();
        panel.form.N18->trigger();
        state.ResumeTiming();
        // The TCP connection, the connected event, the 19 reads, the device
        // information and the repaint of every control.
        panel.form.N17->trigger();
        if (panel.form.messageText() != connected) {
            state.SkipWithError("connect failed");
            break;
        }
    }
    if (!panel.error.isEmpty()) state.SkipWithError(panel.error.toStdString().c_str());
}
BENCHMARK(BM_ConnectOverTcpWithRefresh)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return run_benchmarks<QApplication>(argc, argv); }
