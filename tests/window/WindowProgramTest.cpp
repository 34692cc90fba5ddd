// The real tavirel program, run without a display: its start-up and shutdown
// log in order, with and without a device and a recording, its screenshot,
// and its command line.
#include "tests/LoopbackServer.h"
#include "tests/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

namespace {

using testsupport::readFile;
using testsupport::ToolRun;

// Under LeakSanitizer the offscreen platform's own leaks are not ours; under
// ThreadSanitizer what Qt's uninstrumented code does inside itself is not.
const std::string kLsan = std::string("LSAN_OPTIONS=suppressions=") + TAVIREL_LSAN_SUPPRESSIONS +
                          " TSAN_OPTIONS=suppressions=" + TAVIREL_TSAN_SUPPRESSIONS;

struct Program {
    ToolRun run;
    std::vector<std::string> lines;

    // Index of the first line at or after `from` that equals `line` (or
    // starts with it, when `prefix`); −1 when there is none.
    int find(const std::string& line, int from = 0, bool prefix = false) const
    {
        for (size_t i = size_t(std::max(from, 0)); i < lines.size(); ++i)
            if (prefix ? lines[i].rfind(line, 0) == 0 : lines[i] == line)
                return int(i);
        return -1;
    }
    bool has(const std::string& text) const { return run.out.find(text) != std::string::npos; }
};

const char kQuietConfig[] = "[Generic]\nconf_ldpc_threads=2\nip_out_mode=0\n";

// Runs tavirel in `folder` (its working folder: config.ini, devices.ini);
// with `writeConfig` false the config.ini already there is used.
Program tavirel(const QTemporaryDir& folder, const std::string& arguments, bool writeConfig = true)
{
    if (writeConfig)
        std::ofstream(folder.filePath("config.ini").toStdString()) << kQuietConfig;
    Program p;
    p.run = testsupport::runTool("cd " + folder.path().toStdString() + " && QT_QPA_PLATFORM=offscreen " + kLsan +
                                     " timeout 120 " + TAVIREL_APP,
                                 arguments);
    std::istringstream in(p.run.out);
    for (std::string line; std::getline(in, line);)
        p.lines.push_back(line);
    return p;
}

// The lines every run prints, in this order.
void expectStartAndEndInOrder(const Program& p)
{
    int at = 0;
    for (const char* line : {"Tavirel Version 2.0.21", "CPU Model: ", "Initializing 32768 work-queue buffers...",
                             "creating debug file...", "Loading generic settings...", "Available UI styles: (",
                             "Applying UI Style '", "Setting up GUI...", "Enumerating Devices... ",
                             "Starting Worker Threads... ", "Init Complete! ", "Stopping worker threads... "}) {
        const int next = p.find(line, at, true);
        ASSERT_GE(next, at) << "'" << line << "' missing or out of order:\n" << p.run.out;
        at = next + 1;
    }
    // Lines quoted with a trailing blank keep it.
    EXPECT_GE(p.find("Enumerating Devices... "), 0);
    EXPECT_GE(p.find("Init Complete! "), 0);

    // Workers stop in registration order, each joined before the next.
    for (const char* worker : {"9FFTWorker", "14BasebandWorker", "9FIRWorker", "14ResampleWorker", "11DemodWorker",
                               "13ViterbiWorker", "10LDPCWorker", "10LDPCWorker"}) {
        const int waiting = p.find(std::string("Waiting for worker thread to finish: ") + worker, at, true);
        ASSERT_GE(waiting, at) << worker << "\n" << p.run.out;
        const int stopped = p.find(std::string("Worker thread stopped: ") + worker, waiting, true);
        ASSERT_GT(stopped, waiting) << worker;
        at = stopped + 1;
    }
    int end = at;
    for (const char* line : {"All worker threads have been stopped.", "Net Mode changed to 0", "Cleaning up... ",
                             "Highest allocation count: ", "Bye :)"}) {
        const int next = p.find(line, end, true);
        ASSERT_GE(next, end) << "'" << line << "' missing or out of order:\n" << p.run.out;
        end = next + 1;
    }
    EXPECT_EQ(p.lines.back(), "Bye :)");
    EXPECT_EQ(p.run.exitCode, 0) << p.run.err;
}

// A transmitter serving the demo signal in real time on a free port, for
// one client.
class Transmitter {
public:
    Transmitter()
    {
        port = 20000 + int(getpid() % 20000);
        thread = std::thread([this] {
            // Not through runTool(): its capture files are the program's.
            std::system((std::string("timeout 30 ") + TAVIREL_SIGGEN +
                         " --modcod \"QPSK 1/2\" --pilots on --esn0 10 --realtime --duration 8 --serve 127.0.0.1:" +
                         std::to_string(port) + " >/dev/null 2>&1")
                            .c_str());
        });
        testsupport::waitUntil([&] { return testsupport::tcpListening(port); }, 15000);
    }
    // After its client has gone the server would wait for the next.
    ~Transmitter()
    {
        std::system(("pkill -f 'serve 127.0.0.1:" + std::to_string(port) + "'").c_str());
        thread.join();
    }
    int port;

private:
    std::thread thread;
};

} // namespace

TEST(WindowProgram, WithoutADeviceStartsAndShutsDownInOrder)
{
    QTemporaryDir folder;
    const Program p = tavirel(folder, "--no-release-notes --quit-after 1");
    expectStartAndEndInOrder(p);
    EXPECT_FALSE(p.has("Closing input device... "));
    EXPECT_FALSE(p.has("Closing recoring file. "));
    EXPECT_FALSE(p.has("device has been opened."));
    EXPECT_FALSE(p.has("There were still ")) << "with nothing received every buffer is back";
}

TEST(WindowProgram, WithADeviceAndARecordingClosesEachInItsPlace)
{
    QTemporaryDir folder;
    Program p;
    {
        Transmitter tx;
        ASSERT_TRUE(testsupport::tcpListening(tx.port));
        p = tavirel(folder, "--tcp 127.0.0.1:" + std::to_string(tx.port) +
                                " --no-release-notes --record ts:out.ts --quit-after 6");
    }
    expectStartAndEndInOrder(p);
    const int opened = p.find("device has been opened.");
    const int init = p.find("Init Complete! ");
    ASSERT_GT(opened, init) << p.run.out;
    EXPECT_GT(p.find("LOCKED :)", opened, true), opened) << p.run.out;

    // The device is closed and its settings saved before any worker stops;
    // the recording is closed after the workers, before the network.
    const int closing = p.find("Closing input device... ");
    const int saving = p.find("Trying to save device config for dev 'TCP Input Device'", 0, true);
    const int stopping = p.find("Stopping worker threads... ");
    const int stopped = p.find("All worker threads have been stopped.");
    const int recording = p.find("Closing recoring file. ");
    const int network = p.find("Net Mode changed to 0", stopped);
    EXPECT_GT(closing, opened);
    EXPECT_GT(saving, closing);
    EXPECT_GT(stopping, saving);
    EXPECT_GT(recording, stopped);
    EXPECT_GT(network, recording);

    const std::vector<uint8_t> ts = readFile(folder.filePath("out.ts").toStdString());
    ASSERT_GT(ts.size(), 0u);
    EXPECT_EQ(ts.size() % 1316, 0u);
    EXPECT_TRUE(QFile::exists(folder.filePath("devices.ini")));
}

TEST(WindowProgram, WithADeviceAndNoRecording)
{
    QTemporaryDir folder;
    Program p;
    {
        Transmitter tx;
        p = tavirel(folder, "--tcp 127.0.0.1:" + std::to_string(tx.port) + " --no-release-notes --quit-after 2");
    }
    expectStartAndEndInOrder(p);
    EXPECT_GT(p.find("Closing input device... "), p.find("device has been opened."));
    EXPECT_FALSE(p.has("Closing recoring file. "));
}

// Ctrl-C while the release notes are up ends the program through the normal
// shutdown, as it does from the window.
TEST(WindowProgram, InterruptedDuringTheReleaseNotesShutsDownInOrder)
{
    QTemporaryDir folder;
    std::ofstream(folder.filePath("config.ini").toStdString()) << kQuietConfig;
    const std::string out = folder.filePath("out.txt").toStdString();
    // Once the window is built the notes come up; the interrupt follows.
    const std::string script = folder.filePath("interrupt.sh").toStdString();
    std::ofstream(script) << "cd " << folder.path().toStdString() << "\n"
                          << "QT_QPA_PLATFORM=offscreen " << kLsan << " timeout 120 " << TAVIREL_APP << " > " << out
                          << " &\np=$!\n"
                          << "for i in $(seq 600); do grep -q 'Init Complete' " << out << " && break; sleep 0.1; done\n"
                          << "sleep 0.5\nkill -INT $p\nwait $p\n";
    const ToolRun r = testsupport::runTool("sh", script);
    Program p;
    p.run.exitCode = r.exitCode;
    p.run.err = r.err;
    std::ifstream in(out);
    for (std::string line; std::getline(in, line);) {
        p.lines.push_back(line);
        p.run.out += line + "\n";
    }
    expectStartAndEndInOrder(p);
}

TEST(WindowProgram, ScreenshotIsTheWindow)
{
    QTemporaryDir folder;
    const Program p = tavirel(folder, "--no-release-notes --quit-after 1 --screenshot shot.png");
    EXPECT_EQ(p.run.exitCode, 0) << p.run.err;
    QImage shot(folder.filePath("shot.png"));
    ASSERT_FALSE(shot.isNull());
    EXPECT_GT(shot.width(), 600);
    EXPECT_GT(shot.height(), 400);
}

TEST(WindowProgram, CommandLineWithoutADisplay)
{
    ToolRun r = testsupport::runTool("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " + std::string(TAVIREL_APP),
                                     "--help");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("--tcp"), std::string::npos);
    EXPECT_NE(r.out.find("--quit-after"), std::string::npos);

    r = testsupport::runTool("QT_QPA_PLATFORM=offscreen " + kLsan + " " + TAVIREL_APP, "--tcp nowhere");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("--tcp"), std::string::npos) << r.err;
}

// Settings files that cannot be used are said in the log and the window
// starts with the defaults: no message box before the window is up, nothing
// that waits for a writer, and --quit-after ends the run through the normal
// shutdown.
TEST(WindowProgram, UnusableSettingsFilesNeverHoldTheStartUp)
{
    struct Case {
        std::string name;
        std::function<void(const QString& folder)> make;
        std::string logged;
    };
    const std::vector<Case> cases = {
        {"address that is no address",
         [](const QString& f) {
             std::ofstream(QDir(f).filePath("config.ini").toStdString())
                 << "[Generic]\nconf_ldpc_threads=2\nip_out_mode=1\nip_out_addr=udp://somewhere\n";
         },
         "config.ini: ip_out_addr 'udp://somewhere' is not an IP address; the network output is off"},
        {"10 MB address line",
         [](const QString& f) {
             std::ofstream(QDir(f).filePath("config.ini").toStdString())
                 << "[Generic]\nconf_ldpc_threads=2\nip_out_mode=1\nip_out_addr=" << std::string(10000000, '1') << "\n";
         },
         "config.ini is too large ("},
        {"config.ini a named pipe",
         [](const QString& f) { ASSERT_EQ(mkfifo(QDir(f).filePath("config.ini").toUtf8().constData(), 0600), 0); },
         "config.ini is not a regular file; the default settings are used"},
    };
    for (const Case& c : cases) {
        QTemporaryDir folder;
        c.make(folder.path());
        const Program p = tavirel(folder, "--no-release-notes --quit-after 1 --screenshot shot.png", false);
        SCOPED_TRACE(c.name);
        expectStartAndEndInOrder(p);
        EXPECT_GE(p.find(c.logged, 0, true), 0) << p.run.out.substr(0, 3000);
        EXPECT_FALSE(QImage(folder.filePath("shot.png")).isNull());
    }

    // devices.ini a named pipe: read when the TCP input connects, written
    // when it disconnects; neither waits, both are said.
    QTemporaryDir folder;
    std::ofstream(folder.filePath("config.ini").toStdString()) << kQuietConfig;
    ASSERT_EQ(mkfifo(folder.filePath("devices.ini").toUtf8().constData(), 0600), 0);
    Program p;
    {
        Transmitter tx;
        p = tavirel(folder, "--tcp 127.0.0.1:" + std::to_string(tx.port) + " --no-release-notes --quit-after 2", false);
    }
    expectStartAndEndInOrder(p);
    EXPECT_GE(p.find("devices.ini is not a regular file; the device keeps its own settings"), 0) << p.run.out;
    EXPECT_GE(p.find("devices.ini is not a regular file; the device settings are not saved"), 0) << p.run.out;
    EXPECT_GT(p.find("Closing input device... "), p.find("device has been opened."));
}
