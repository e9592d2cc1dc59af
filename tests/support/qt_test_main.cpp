// The main of the test programs whose Qt objects need an application object
// for their event loop, but no widgets (tk770_tests(... QT_MAIN)).
#include <QCoreApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
