// Qt objects in these tests need an application object for their event loop.
#include <QApplication>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    // The build lists the tests by running this binary where no display may
    // exist; widgets need no screen to be driven.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // Settings never reach the user's own: every QSettings of this run, and
    // the standard folders, point into a folder that goes with the run.
    // Tests that keep settings use files of their own inside it.
    QStandardPaths::setTestModeEnabled(true);
    QTemporaryDir settingsHome;
    if (!settingsHome.isValid()) return 1;
    for (const auto format : {QSettings::NativeFormat, QSettings::IniFormat})
        for (const auto scope : {QSettings::UserScope, QSettings::SystemScope})
            QSettings::setPath(format, scope, settingsHome.path());
    qputenv("XDG_CONFIG_HOME", settingsHome.path().toLocal8Bit());
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
