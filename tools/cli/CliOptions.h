// tavirel-cli's command line: every option, its default and its checks.
#pragma once

#include "receiver/ReceiverSettings.h"
#include "devices/SampleFormat.h"
#include "ToolCommandLine.h"

#include <QStringList>

#include <optional>
#include <string>
#include <utility>
#include <vector>

constexpr int kExitDone = 0;
constexpr int kExitUsage = 1;   // bad options
constexpr int kExitInput = 2;   // the input could not be opened
constexpr int kExitOutput = 3;  // an output failed (standard output: the program ends)

enum class InputKind { File, Stdin, Tcp, Radio };
enum class OutputKind { Udp, TcpListen, File, Stdout };

struct OutputTarget {
    OutputKind kind = OutputKind::File;
    std::string host;   // udp, tcp-listen
    int port = 0;
    std::string path;   // file
    std::string text;   // as given on the command line
};

// A recording of what the demodulator takes in ("symbols") or of the
// device's samples ("samples").
struct RecordTarget {
    std::string kind;
    std::string path;
    bool sigmf = false;   // samples: a SigMF recording, path its data file
};

struct CliOptions {
    ReceiverSettings receiver;   // with the DVB-S code rate, alignment and LDPC threads
    InputKind input = InputKind::File;
    std::string inputPath;     // file (a SigMF recording's data file)
    std::string sigmfMetaPath; // a SigMF recording's metadata, or empty
    std::optional<double> recordedFrequency;   // Hz, from a SigMF recording
    bool sampleRateGiven = false;   // on the command line
    bool formatGiven = false;
    std::string inputText;     // as given on the command line
    std::string inputHost;     // tcp
    int inputPort = 0;
    std::string radioChoice;     // radio: "<kind>:<selector>", e.g. "rtlsdr:0"
    unsigned radioRateIndex = 0;   // radio: the listed rate it runs at (chosen in main)
    std::optional<uint64_t> frequency;   // radio: Hz
    std::optional<int> gain;             // radio: in the device's units
    bool listDevices = false;
    IqFormat format = IqFormat::S16;
    std::vector<OutputTarget> outputs;
    std::vector<RecordTarget> recordings;   // at most one of each kind
    double statusInterval = 1.0;
    double duration = 0;       // seconds; 0: until the input ends
    bool json = false;
    bool stageTimes = false;   // CPU time per stage after the summary
    // The receiver's own log (every line the engine writes): nowhere by
    // default, on standard error with --verbose, or in a file.
    bool verbose = false;
    std::string logPath;
    bool quiet = false;        // errors and the summary only
    // Every JSON report line (start, status, summary) as a UDP datagram.
    std::string statusUdpHost;
    int statusUdpPort = 0;     // 0: none
    // List the band's carriers and exit; their frequencies with the LNB's
    // oscillator added.
    bool scan = false;
    // --scan-range START:STOP (Hz): a radio's tuner stepped across the range,
    // the bands' carriers merged into one list.
    std::optional<std::pair<uint64_t, uint64_t>> scanRange;
    // --symbol-rate auto: measured from the carrier at the tuned frequency.
    bool symbolRateAuto = false;
    double lnbHz = 0;
    bool stdoutCarriesTs() const;
};

// Exit: --help or --version, with the text to print in `message`. Error:
// `message` names the option and what is wrong with it.
ParseResult parseCliOptions(const QStringList& arguments, CliOptions& options, std::string& message);
