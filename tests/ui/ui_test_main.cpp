// The window's tests need one QApplication for the whole process, created before the first test
// and destroyed after the last. This main takes the place of the shared one in tests/support (it
// defines main itself, so the linker never pulls the shared one out of the support library).

#include <QApplication>

#include <gtest/gtest.h>

#include <clocale>

int main(int argc, char** argv)
{
    // No display is needed, whoever runs the tests; a caller's explicit choice still wins.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    std::setlocale(LC_ALL, "C.UTF-8"); // after Qt has set the environment's, as the shared main does
    // Each window under test ends the event loop itself; no test may depend on Qt's own quitting
    // when the last window closes.
    QApplication::setQuitOnLastWindowClosed(false);
    return RUN_ALL_TESTS();
}
