// tavirel: the desktop receiver. Start-up prints the banner, builds the window
// (which builds and starts the receiver), shows the release notes once, runs
// the event loop; shutdown runs in the window's destructor.
#include "app/MainWindow.h"
#include "app/ReleaseNotes.h"
#include "app/WindowOptions.h"
#include "core/CpuInfo.h"
#include "core/HeapTuning.h"
#include "core/Log.h"
#include "tools/common/StandardStreams.h"

#include <QApplication>
#include <QCoreApplication>
#include <QTimer>

#include <atomic>
#include <cmath>
#include <csignal>
#include <cstring>
#include <iostream>

namespace {

std::atomic<bool> interrupted{false};

void onInterrupt(int)
{
    interrupted.store(true);
}

// --help and --version need no display: answered before the application
// object of the window exists.
bool wantsTextOnly(int argc, char** argv)
{
    if (wantsHelp(argc, argv))
        return true;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--version") == 0)
            return true;
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    // A closed standard output would be taken by the first socket or file
    // opened, and the log written into it.
    checkStandardStreams();
    keepWorkBuffersInTheHeap();
    if (wantsTextOnly(argc, argv)) {
        QCoreApplication app(argc, argv);
        WindowOptions options;
        std::string message;
        return answerParse(parseWindowOptions(app.arguments(), options, message), message, "tavirel", 1);
    }

    printStartupBanner(std::cout, cpuInfo());
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    QApplication app(argc, argv);
    startTool("tavirel");

    WindowOptions options;
    std::string message;
    const ParseResult parsed = parseWindowOptions(app.arguments(), options, message);
    if (parsed == ParseResult::Error)
        message += " (see --help)";
    const int answered = answerParse(parsed, message, "tavirel", 1);
    if (answered >= 0)
        return answered;

    int code = 0;
    {
        MainWindow window(options);
        // Ctrl-C and SIGTERM end the program through the normal shutdown,
        // from the release notes too (quitting ends their loop).
        std::signal(SIGINT, onInterrupt);
        std::signal(SIGTERM, onInterrupt);
        QTimer interruptPoll;
        QObject::connect(&interruptPoll, &QTimer::timeout, [] {
            if (interrupted.load())
                QCoreApplication::quit();
        });
        interruptPoll.start(100);

        if (options.releaseNotes)
            showReleaseNotes(&window);
        // Interrupted while the notes were up: straight to the shutdown.
        if (!interrupted.load()) {
            window.show();
            if (options.tcp)
                window.connectTcp(*options.tcp);
            if (options.recordType)
                window.startRecording(*options.recordType, options.recordPath);

            if (options.quitAfter > 0) {
                const QString screenshot = options.screenshotPath;
                QTimer::singleShot(int(std::lround(options.quitAfter * 1000)), &window, [&window, screenshot] {
                    if (!screenshot.isEmpty() && !window.grab().save(screenshot, "PNG"))
                        std::cerr << "tavirel: error: cannot write the screenshot '" << screenshot.toStdString()
                                  << "'" << std::endl;
                    QCoreApplication::quit();
                });
            }
            code = QApplication::exec();
        }
    }
    LogLine() << "Bye :)";
    return code;
}
