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

int main(int argc, char** argv)
{
    // Widgets without a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
