// tavirel-siggen's command line: every option, its default and its checks.
#pragma once

#include "tx/SampleFormat.h"
#include "tx/BandComposer.h"
#include "tx/SignalGenerator.h"
#include "ToolCommandLine.h"

#include <QStringList>

#include <cstdint>
#include <string>


constexpr int kExitUsage = 1; // impossible or malformed parameters
constexpr int kExitIo = 2;    // an output or a port that cannot be used

struct SiggenOptions {
    tx::TxSettings tx;
    IqFormat format = IqFormat::S16;
    std::string formatName = "s16";
    double level = 0.25;        // signal RMS (complex, without noise) as a fraction of full scale
    double totalLevel = 0;      // signal and noise RMS as a fraction of full scale; 0: `level` holds
    std::string outputPath;     // file or "-"
    std::string servePath;      // HOST:PORT
    bool sigmf = false;         // outputPath is a .sigmf-data file, with its .sigmf-meta beside
    bool realtime = false;
    double durationSeconds = -1;
    int64_t frames = -1;        // DVB-S2: PL frames; DVB-S: TS packets
    std::string symbolsPath;
    std::string bbframesPath;
    // A composed band: the carriers (none: noise alone) over one floor.
    bool band = false;
    std::vector<tx::BandCarrier> carriers;
};


// Exit: --help or --version, with the text to print in `message`.
// Error: `message` names the problem.
ParseResult parseSiggenOptions(const QStringList& arguments, SiggenOptions& options, std::string& message);

// One carrier of a band from its KEY=VALUE;... description, at the band's sample
// rate; false with `message` naming the problem.
bool parseBandCarrier(const QString& description, int64_t sampleRate, tx::BandCarrier& carrier, std::string& message);

// One line describing what is transmitted.
std::string describeSettings(const tx::TxSettings& settings);
