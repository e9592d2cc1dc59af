// tk770-panel: the operator's control panel.
#include "gui/Main.h"
#include "tk770_version.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFont>
#include <QStyleFactory>
#include <QSettings>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <string_view>

namespace {

long long nowUs()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

// With TK770_STARTUP_REPORT set, the panel reports when each phase of its
// start-up ended and quits once the window has been painted, so `make bench`
// can time a whole launch and say where the time goes. The clock is the
// system's monotonic clock, which the launching process reads too.
class StartupReport : public QObject {
public:
    explicit StartupReport(long long mainUs) : m_mainUs(mainUs) {}
    void appReady() { m_appUs = nowUs(); }
    void watch(QWidget* window)
    {
        m_windowUs = nowUs();
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && !m_done) {
            m_done = true;
            watched->removeEventFilter(this);
            // Queued, so it runs once this paint has been carried out.
            QTimer::singleShot(0, this, [this] {
                std::fprintf(stderr, "startup main=%lld app=%lld window=%lld painted=%lld\n", m_mainUs, m_appUs,
                             m_windowUs, nowUs());
                QCoreApplication::quit();
            });
        }
        return false;
    }

private:
    long long m_mainUs;
    long long m_appUs = 0;
    long long m_windowUs = 0;
    bool m_done = false;
};


struct PanelOptions {
    QCommandLineOption host{QStringLiteral("host"), QStringLiteral("TCP host of the processor (default 192.168.0.8)."),
                            QStringLiteral("HOST")};
    QCommandLineOption reset{
        QStringLiteral("reset-settings"),
        QStringLiteral("Forget the remembered language, port, host, project folder and window position, then exit.")};
};

void describe(QCommandLineParser& parser, const PanelOptions& options)
{
    parser.setApplicationDescription(QStringLiteral("Control panel of the eight-channel cinema audio processor"));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(options.host);
    parser.addOption(options.reset);
}

int resetSettings()
{
    QSettings settings;
    settings.clear();
    settings.sync();
    if (settings.status() != QSettings::NoError) {
        std::fprintf(stderr, "tk770-panel: cannot write %s\n", qPrintable(settings.fileName()));
        return 1;
    }
    std::printf("Settings forgotten (%s)\n", qPrintable(settings.fileName()));
    return 0;
}

// --help, --version and --reset-settings must work where there is no
// display (over ssh, in a package check), so they are answered before the
// window system is touched.
bool answersWithoutWindow(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view a(argv[i]);
        if (a == "-h" || a == "--help" || a == "-?" || a == "--help-all" || a == "-v" || a == "--version" ||
            a == "--reset-settings")
            return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv)
{
    const long long mainUs = nowUs();
    // Also where the remembered settings live: ~/.config/tk770/tk770-panel.conf.
    QCoreApplication::setOrganizationName(QStringLiteral("tk770"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("tk770.org"));
    QCoreApplication::setApplicationName(QStringLiteral("tk770-panel"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(tk770::project_version));

    const PanelOptions options;
    if (answersWithoutWindow(argc, argv)) {
        QCoreApplication app(argc, argv);
        QCommandLineParser parser;
        describe(parser, options);
        parser.process(app);  // help and version end here
        if (parser.isSet(options.reset)) return resetSettings();
    }

    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QFont font(QStringLiteral("WenQuanYi Micro Hei"));
    font.setPixelSize(12);
    QApplication::setFont(font);

    QCommandLineParser parser;
    describe(parser, options);
    parser.process(app);

    QSettings settings;
    std::unique_ptr<StartupReport> report;
    if (qEnvironmentVariableIsSet("TK770_STARTUP_REPORT")) {
        report = std::make_unique<StartupReport>(mainUs);
        report->appReady();
    }
    TForm1 form(parser.value(options.host));
    form.restoreSettings(settings);
    if (report) report->watch(&form);
    form.show();
    QApplication::exec();
    form.saveSettings(settings);
    return 0;
}
