// The window's tests need one QApplication for the whole process, created before the first test
// and destroyed after the last. This main takes the place of the shared one in tests/support (it
// defines main itself, so the linker never pulls the shared one out of the support library).

#include "tests/support/scratch_dir.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>

int main(int argc, char** argv)
{
    // No display is needed, whoever runs the tests; a caller's explicit choice still wins.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Qt's file dialog keeps its history in the user's settings (QtProject.conf); the tests' go to
    // a folder of their own instead, set before Qt first looks for it and removed after the last,
    // and so does the runtime folder Qt would otherwise create in /tmp.
    const tarnis::test::ScratchDir settings;
    qputenv("XDG_CONFIG_HOME", settings.path().c_str());
    std::filesystem::create_directory(settings.file("runtime"));
    std::filesystem::permissions(settings.file("runtime"), std::filesystem::perms::owner_all);
    qputenv("XDG_RUNTIME_DIR", settings.file("runtime").c_str());
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    std::setlocale(LC_ALL,
                   "C.UTF-8"); // after Qt has set the environment's, as the shared main does
    // Each window under test ends the event loop itself; no test may depend on Qt's own quitting
    // when the last window closes.
    QApplication::setQuitOnLastWindowClosed(false);
    return RUN_ALL_TESTS();
}
