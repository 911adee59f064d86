// The widgets need an application object for the whole run; it replaces GoogleTest's main.

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // Also when the build lists the tests, where no display is at hand.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
