// tk770-panel: the operator's control panel.
#include "gui/Main.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFont>
#include <QStyleFactory>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tk770-panel"));
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QFont font(QStringLiteral("WenQuanYi Micro Hei"));
    font.setPixelSize(12);
    QApplication::setFont(font);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Control panel of the eight-channel cinema audio processor"));
    parser.addHelpOption();
    const QCommandLineOption hostOption(QStringLiteral("host"),
                                        QStringLiteral("TCP host of the processor (default 192.168.0.8)."),
                                        QStringLiteral("HOST"));
    parser.addOption(hostOption);
    parser.process(app);

    TForm1 form(parser.value(hostOption));
    form.show();
    QApplication::exec();
    return 0;
}
