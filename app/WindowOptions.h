// The window's own command-line options: connect a TCP input at start without
// the dialog, skip the release notes, take a screenshot and quit.
#pragma once

#include "devices/TCPInputDevice.h"
#include "receiver/ReceiverSettings.h"
#include "stream/RecordFile.h"
#include "tools/common/ToolCommandLine.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <string>

struct DeviceLibraries;

// The settings the window starts from: the tuned ones, which decode at the
// threshold where the classic ones (the workers' own) decode nothing.
constexpr ReceiverProfile kWindowProfile = ReceiverProfile::Tuned;

struct WindowOptions {
    bool releaseNotes = true;
    // --tcp HOST:PORT with --format and --sample-rate: the TCP input,
    // connected at start as if chosen in the device list and its dialog.
    std::optional<TcpInputSettings> tcp;
    std::optional<int32_t> symbolRate;      // --symbol-rate, sym/s
    bool symbolRateAuto = false;            // --symbol-rate auto
    std::optional<Standard> standard;       // --standard dvbs2|dvbs
    std::optional<bool> carrierLoop;        // --carrier-loop on|off: the fine carrier loop at start
    // --record [ts:|symbols:|samples:]PATH: recording from the start (once
    // the input is connected), as if chosen with the Record button.
    std::optional<RecordType> recordType;
    QString recordPath;
    QString screenshotPath;                 // --screenshot: a PNG of the window before quitting
    double quitAfter = 0;                   // --quit-after: seconds; 0: run until closed
    // The radio libraries the device list is made from; none: the system's.
    // Tests put stand-ins here.
    const DeviceLibraries* radioLibraries = nullptr;
};

// Exit: --help with its text in `message`; Error: `message` names the option.
// A host name in --tcp is resolved here (the dialog takes addresses only).
ParseResult parseWindowOptions(const QStringList& arguments, WindowOptions& options, std::string& message);

// True when the arguments ask for --help (looked at before the application
// object exists, which needs a display).
bool wantsHelp(int argc, char** argv);
