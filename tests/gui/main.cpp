// Qt objects in these tests need an application object for their event loop.
#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    // The build lists the tests by running this binary where no display may
    // exist; widgets need no screen to be driven.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
