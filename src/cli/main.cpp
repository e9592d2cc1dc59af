#include "cli/Ctl.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tk770ctl"));
    QTextStream out(stdout);
    QTextStream err(stderr);
    return tk770::runCtl(QCoreApplication::arguments(), out, err);
}
