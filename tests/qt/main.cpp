#include <QApplication>
#include <gtest/gtest.h>

// Read by LeakSanitizer in sanitizer builds: Qt's offscreen platform plugin
// keeps its screen objects until the process ends.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libqoffscreen.so\n"
           "leak:QScreen::QScreen\n"
           "leak:QPlatformScreen::QPlatformScreen\n"
           "leak:QWindowSystemInterface::handleScreenAdded\n";
}

// Read by ThreadSanitizer: Qt's libraries (and GLib, whose event loop Qt's
// runs on) are not instrumented, so their own locking is invisible and what
// their threads do inside them shows up as races.
// Copies and frees made by Qt code itself are not checked; every access of
// ours still is. (tests/qt.tsan.supp says the same for the programs.)
extern "C" const char* __tsan_default_suppressions()
{
    return "called_from_lib:libQt5Core.so.5\n"
           "called_from_lib:libQt5Gui.so.5\n"
           "called_from_lib:libQt5Widgets.so.5\n"
           "called_from_lib:libglib-2.0.so.0\n";
}

int main(int argc, char** argv)
{
    // Widgets without a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
