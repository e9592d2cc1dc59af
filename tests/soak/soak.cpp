// tk770-soak: the real main window (offscreen) driven by random operator
// events against a simulated processor that drops, corrupts, cuts short, pads
// and closes at random; then a clean download to a well-behaved simulator and
// a read-back. Passes when nothing crashed, resident memory stayed within a
// small bound after warm-up, and the processor ends up holding the image.
//
//   tk770-soak [--seconds N] [--events N] [--seed N] [--rss-bound-kib N]
#include "gui/Main.h"

#include "core/device_link.h"
#include "core/parameter_image.h"
#include "support/sim_process.h"
#include "link/tcp_transport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QRadioButton>
#include <QSlider>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

using tk770::testing::SimProcess;

namespace {

struct Options {
    int seconds = 120;
    long events = 200000;
    unsigned seed = 0;
    long rssBoundKib = 8 * 1024;
};

bool parseOptions(int argc, char** argv, Options& o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (i + 1 >= argc) {
            std::fprintf(stderr, "tk770-soak: %s needs a value\n", a.c_str());
            return false;
        }
        char* end = nullptr;
        const long v = std::strtol(argv[++i], &end, 10);
        if (*end != '\0' || v < 0) {
            std::fprintf(stderr, "tk770-soak: %s wants a whole number, got \"%s\"\n", a.c_str(), argv[i]);
            return false;
        }
        if (a == "--seconds") o.seconds = static_cast<int>(v);
        else if (a == "--events") o.events = v;
        else if (a == "--seed") o.seed = static_cast<unsigned>(v);
        else if (a == "--rss-bound-kib") o.rssBoundKib = v;
        else {
            std::fprintf(stderr, "tk770-soak: unknown option %s\n", a.c_str());
            return false;
        }
    }
    return true;
}

long residentKib()
{
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Controls that only change the image and the display, or write one unit:
// no file dialogs, no modal questions.
struct Controls {
    std::vector<QSlider*> sliders;
    std::vector<QCheckBox*> boxes;
    std::vector<QRadioButton*> radios;
    std::vector<QAbstractButton*> buttons;  // polarity and mute
};

Controls collect(TForm1& form)
{
    Controls c;
    for (auto* s : form.findChildren<QSlider*>()) c.sliders.push_back(s);
    for (auto* b : form.findChildren<QCheckBox*>()) c.boxes.push_back(b);
    for (auto* r : form.findChildren<QRadioButton*>()) c.radios.push_back(r);
    for (auto* b : form.PolarityButtons) c.buttons.push_back(b);
    for (auto* b : form.MuteButtons) c.buttons.push_back(b);
    return c;
}

QStringList randomFaults(std::mt19937& rng)
{
    // Periods in requests; prime-ish spreads so the faults do not always
    // coincide. No delay: it holds every reply back, which would make the
    // whole run one long time-out.
    auto period = [&](int lo, int hi) { return QString::number(std::uniform_int_distribution<int>(lo, hi)(rng)); };
    return {QStringLiteral("--fault"), QStringLiteral("no-reply:") + period(40, 90),
            QStringLiteral("--fault"), QStringLiteral("bad-checksum:") + period(50, 110),
            QStringLiteral("--fault"), QStringLiteral("short:") + period(60, 130),
            QStringLiteral("--fault"), QStringLiteral("surplus:") + period(20, 60),
            QStringLiteral("--fault"), QStringLiteral("close:") + period(150, 300)};
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Options opt;
    opt.seed = static_cast<unsigned>(std::random_device{}());
    if (!parseOptions(argc, argv, opt)) return 2;
    std::mt19937 rng(opt.seed);
    std::printf("tk770-soak: seed %u, at most %d s and %ld events\n", opt.seed, opt.seconds, opt.events);

    SimProcess faulty;
    if (!faulty.start(SimProcess::tcpArgs() + randomFaults(rng))) {
        std::fprintf(stderr, "tk770-soak: simulator: %s\n", qPrintable(faulty.error()));
        return 1;
    }

    TForm1 form(QStringLiteral("127.0.0.1"));
    long errorsShown = 0;
    form.setErrorReporter([&](const QString&) { ++errorsShown; });
    // Disconnecting after writes asks about the processor's memory; the soak
    // goes on without saving (its button is the destructive one).
    form.setQuestionRunner([](QMessageBox* box) -> QAbstractButton* {
        for (QAbstractButton* b : box->buttons())
            if (box->buttonRole(b) == QMessageBox::DestructiveRole) return b;
        return nullptr;
    });
    form.show();
    form.setTcpPort(faulty.tcpPort());
    form.tcpClient().set_reply_wait_ms(300);
    form.NET1->trigger();

    const Controls controls = collect(form);
    std::printf("controls: %zu sliders, %zu boxes, %zu radio items, %zu buttons\n", controls.sliders.size(),
                controls.boxes.size(), controls.radios.size(), controls.buttons.size());

    auto pick = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng); };
    auto chance = [&](int percent) { return std::uniform_int_distribution<int>(0, 99)(rng) < percent; };

    QElapsedTimer clock;
    clock.start();
    long events = 0, connects = 0, downloads = 0, reads = 0;
    const long warmUp = std::min<long>(2000, opt.events / 10);
    bool warmed = false;
    long rssStart = residentKib();
    long rssPeak = rssStart;
    while (events < opt.events && clock.elapsed() < opt.seconds * 1000L) {
        ++events;
        const bool linkDown = form.linkState().connected == 0 || !form.tcpClient().isOpen();
        if (linkDown && chance(20)) {
            // The operator connects again after a failure or a closed
            // connection: disconnect first, which drops the dead socket.
            form.N18->trigger();
            form.N17->trigger();
            ++connects;
        } else if (chance(1)) {
            form.N20->trigger();
            ++downloads;
        } else if (chance(1)) {
            form.N21->trigger();
            ++reads;
        } else {
            switch (pick(5)) {
            case 0:
            case 1: {
                QSlider* s = controls.sliders[pick(controls.sliders.size())];
                if (s->isEnabled())
                    s->setValue(std::uniform_int_distribution<int>(s->minimum(), s->maximum())(rng));
                break;
            }
            case 2:
                if (!controls.boxes.empty()) {
                    QCheckBox* b = controls.boxes[pick(controls.boxes.size())];
                    if (b->isEnabled()) b->click();
                }
                break;
            case 3:
                if (!controls.radios.empty()) {
                    QRadioButton* r = controls.radios[pick(controls.radios.size())];
                    if (r->isEnabled()) r->click();
                }
                break;
            default:
                if (chance(50)) {
                    form.suiTabControl1->setTabIndex(static_cast<int>(pick(static_cast<std::size_t>(
                        form.suiTabControl1->tabs()->count()))));
                } else {
                    QAbstractButton* b = controls.buttons[pick(controls.buttons.size())];
                    if (b->isEnabled()) b->click();
                }
            }
        }
        if ((events & 63) == 0) QCoreApplication::processEvents();
        // Warm-up ends after a tenth of the events or of the time, whichever
        // comes first: caches, fonts and the graph raster are in by then.
        if (!warmed && (events >= warmUp || clock.elapsed() >= opt.seconds * 100L)) {
            warmed = true;
            rssStart = residentKib();
        }
        if ((events & 1023) == 0) rssPeak = std::max(rssPeak, residentKib());
    }
    QCoreApplication::processEvents();
    const long rssEnd = residentKib();
    const double seconds = static_cast<double>(clock.elapsed()) / 1000.0;

    // The clean part: a processor that behaves, the soaked image downloaded
    // to it through the window, then read back on a link of its own.
    SimProcess clean;
    if (!clean.start(SimProcess::tcpArgs())) {
        std::fprintf(stderr, "tk770-soak: clean simulator: %s\n", qPrintable(clean.error()));
        return 1;
    }
    const tk770::ParameterImage soaked = form.image();
    form.N18->trigger();
    form.setTcpPort(clean.tcpPort());
    form.N17->trigger();  // reads the new processor's memory into the image
    const bool cleanConnect = form.linkState().connected == 1;
    form.image() = soaked;
    form.refreshing = 1;
    form.displayRefresh();
    form.refreshing = 0;
    const tk770::ParameterImage expected = form.image();
    form.N20->trigger();
    const QString downloadText = form.messageText();
    form.N18->trigger();

    tk770::LinkState state;
    state.network_mode = 1;
    tk770::QtTcpTransport tcp;
    tk770::SilentStatus quiet;
    tk770::DeviceLink reader(state, nullptr, &tcp, &quiet);
    tk770::ParameterImage held{};
    int unread = 0, differing = 0;
    try {
        tcp.connect(clean.tcpHost(), clean.tcpPort());
        for (const auto& b : tk770::BlockMap) {
            if (reader.read_block(b.device_address, b.length, held.data() + b.image_offset) != 0) {
                ++unread;
                continue;
            }
        }
    } catch (const tk770::LinkError& e) {
        std::fprintf(stderr, "tk770-soak: read-back: %s\n", e.what());
        unread = tk770::block_count;
    }
    for (int i = 0; i < tk770::download_block_count; ++i) {
        const auto& b = tk770::BlockMap[static_cast<std::size_t>(i)];
        if (std::memcmp(held.data() + b.image_offset, expected.data() + b.image_offset,
                        static_cast<std::size_t>(b.length)) != 0)
            ++differing;
    }

    const long growth = rssEnd - rssStart;
    std::printf("events %ld in %.1f s (%.0f/s); connects %ld, downloads %ld, read-alls %ld\n", events, seconds,
                static_cast<double>(events) / std::max(seconds, 0.001), connects, downloads, reads);
    long faultsSeen = 0;
    for (const QString& line : faulty.stderrText().split(QLatin1Char('\n')))
        faultsSeen += line.startsWith(QLatin1String("fault ")) ? 1 : 0;
    std::printf("faults injected %ld, connection errors shown %ld\n", faultsSeen, errorsShown);
    std::printf("RSS after warm-up %ld KiB, peak %ld KiB, end %ld KiB, growth %ld KiB (bound %ld)\n", rssStart,
                rssPeak, rssEnd, growth, opt.rssBoundKib);
    std::printf("clean connect %s, download \"%s\", blocks unread %d, blocks differing %d of %d\n",
                cleanConnect ? "ok" : "FAILED", qPrintable(downloadText), unread, differing,
                tk770::download_block_count);

    const bool pass = cleanConnect && downloadText == QLatin1String("DownLoad Success") && unread == 0 &&
                      differing == 0 && growth <= opt.rssBoundKib;
    std::printf("%s\n", pass ? "PASS" : "FAIL");
    return pass ? 0 : 1;
}
