// The viewer windows need a QApplication; gtest_main does not make one.
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv)
{
    // Runnable straight from a shell without a display, as ctest runs it.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
