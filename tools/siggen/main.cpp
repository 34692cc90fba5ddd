// tavirel-siggen: a standard-conformant DVB-S2 / DVB-S test transmitter that
// writes IQ samples to a file, to standard output or to a TCP client.
#include "SampleSink.h"
#include "SiggenOptions.h"
#include "devices/SigmfMetadata.h"

#include "core/Log.h"
#include "tx/SampleFormat.h"
#include "tx/SignalGenerator.h"

#include <QCoreApplication>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <thread>

using namespace tx;

namespace {

int fail(int code, const std::string& message)
{
    return toolError("tavirel-siggen", code, message);
}

// Paces a run at its sample rate from the first sample on.
class Pacer {
public:
    explicit Pacer(int64_t sampleRate) : rate(sampleRate) {}
    void wrote(int64_t samples)
    {
        const auto elapsed = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(double(samples) / double(rate)));
        const auto now = std::chrono::steady_clock::now();
        if (now > origin + elapsed + std::chrono::seconds(1))
            origin = now - elapsed; // blocked (waiting for a client): pace from here
        std::this_thread::sleep_until(origin + elapsed);
    }

private:
    int64_t rate;
    std::chrono::steady_clock::time_point origin = std::chrono::steady_clock::now(); // when sample 0 was due
};

std::string describeCarrier(const BandCarrier& c)
{
    std::ostringstream out;
    out << describeSettings(c.settings) << ", offset " << c.settings.frequencyOffset << " Hz, Es/N0 " << c.esn0Db
        << " dB";
    if (!c.settings.services.empty())
        out << ", service " << c.settings.services.front();
    return out.str();
}

// The band of --carrier signals over one floor, for --duration seconds.
// As the samples end: their SigMF description (with --sigmf), annotated
// from sample 0 with what each signal is, and a warning when samples were
// clipped (`advice` says what to lower). The exit code.
int finishOutput(const SiggenOptions& options, const std::string& description,
                 const std::vector<std::string>& annotations, size_t clipped, const std::string& advice)
{
    if (options.sigmf) {
        SigmfDescription meta;
        meta.format = options.format;
        meta.sampleRate = double(options.tx.sampleRate);
        meta.recorder = "tavirel-siggen";
        meta.description = description;
        for (const std::string& a : annotations)
            meta.annotations.push_back({0, a});
        std::string error;
        if (!writeSigmfMeta(sigmfMetaPath(options.outputPath), meta, error))
            return fail(kExitIo, error);
    }
    if (clipped > 0 && options.format != IqFormat::F32)
        std::cerr << "tavirel-siggen: warning: " << clipped << " components clipped at full scale; " << advice << "\n";
    return 0;
}

int composeBand(const SiggenOptions& options, SampleSink& sink)
{
    BandComposer composer(options.carriers, options.tx.sampleRate, options.tx.seed);
    if (!composer.error().empty())
        return fail(kExitUsage, composer.error());
    const double total = options.totalLevel > 0 ? options.totalLevel : 0.25;
    LogLine() << "tavirel-siggen: a band of " << options.carriers.size() << " carriers at "
              << options.tx.sampleRate << " samples/s, " << options.formatName << ", level " << total;
    for (const BandCarrier& c : options.carriers)
        LogLine() << "  " << describeCarrier(c);
    const float scale = float(total / std::sqrt(composer.totalPower()) * fullScale(options.format));
    const int64_t limit = int64_t(std::llround(options.durationSeconds * double(options.tx.sampleRate)));
    std::vector<cf32> samples;
    std::vector<uint8_t> bytes;
    Pacer pacer(options.tx.sampleRate);
    size_t clipped = 0;
    for (int64_t written = 0; written < limit;) {
        const size_t n = size_t(std::min<int64_t>(16384, limit - written));
        samples.clear();
        composer.generate(samples, n);
        bytes.resize(n * iqSampleBytes(options.format));
        clipped += convertSamples(samples.data(), n, scale, options.format, bytes.data());
        if (!sink.write(bytes.data(), bytes.size()))
            return fail(kExitIo, sink.error());
        written += int64_t(n);
        if (options.realtime)
            pacer.wrote(written);
    }
    LogLine() << "Wrote " << limit << " samples (" << options.durationSeconds << " s)";
    std::vector<std::string> described;
    for (const BandCarrier& c : options.carriers)
        described.push_back(describeCarrier(c));
    return finishOutput(options, "Test band of " + std::to_string(options.carriers.size()) + " carriers", described,
                        clipped, "lower --total-level");
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    startTool("tavirel-siggen");

    SiggenOptions options;
    std::string message;
    const int answered = answerParse(parseSiggenOptions(app.arguments(), options, message), message,
                                     "tavirel-siggen", kExitUsage);
    if (answered >= 0)
        return answered;
    if (options.outputPath == "-")
        setLogToStderr(true);

    std::unique_ptr<SampleSink> sink;
    if (!options.servePath.empty()) {
        auto tcp = std::make_unique<TcpServerSink>(options.servePath);
        if (!tcp->ok())
            return fail(kExitIo, tcp->error());
        sink = std::move(tcp);
    } else {
        auto file = std::make_unique<FileSink>(options.outputPath);
        if (!file->ok())
            return fail(kExitIo, file->error());
        sink = std::move(file);
    }
    if (options.band)
        return composeBand(options, *sink);

    SignalGenerator generator(options.tx);
    if (!generator.error().empty())
        return fail(kExitUsage, generator.error());
    std::ofstream symbolsOut, bbframesOut;
    if (!options.symbolsPath.empty()) {
        symbolsOut.open(options.symbolsPath, std::ios::binary);
        if (!symbolsOut)
            return fail(kExitIo, "cannot write '" + options.symbolsPath + "'");
    }
    if (!options.bbframesPath.empty()) {
        bbframesOut.open(options.bbframesPath, std::ios::binary);
        if (!bbframesOut)
            return fail(kExitIo, "cannot write '" + options.bbframesPath + "'");
    }

    // The run ends after a sample count (frames, duration) or never.
    const double sps = generator.samplesPerSymbol();
    int64_t sampleLimit = -1;
    if (options.durationSeconds > 0)
        sampleLimit = int64_t(std::llround(options.durationSeconds * double(options.tx.sampleRate)));
    const int64_t unitsWanted = options.frames; // PL frames or TS packets; -1: no limit
    int64_t units = 0;
    int64_t symbolsOfUnits = 0;                 // symbols of the units within the limit
    generator.onBbframe = [&](const uint8_t* b, size_t n) {
        if ((unitsWanted < 0 || units < unitsWanted) && bbframesOut)
            bbframesOut.write(reinterpret_cast<const char*>(b), std::streamsize(n));
    };
    generator.onSymbols = [&](const cf32* s, size_t n) {
        if (unitsWanted >= 0 && units >= unitsWanted)
            return;
        symbolsOfUnits += int64_t(n);
        if (symbolsOut)
            symbolsOut.write(reinterpret_cast<const char*>(s), std::streamsize(n * sizeof(cf32)));
        if (++units == unitsWanted) {
            // The samples whose time lies before the end of the last unit's symbols.
            const int64_t end = int64_t(std::ceil(double(symbolsOfUnits) * sps - 1e-9));
            sampleLimit = sampleLimit < 0 ? end : std::min(sampleLimit, end);
        }
    };

    // Signal and noise together: what a radio's gain control would hold
    // below full scale. With much noise beside a narrow signal (a low symbol
    // rate at a high sample rate) the signal's own level must be far lower.
    const double spread = std::sqrt(1.0 + generator.noiseToSignalPower());
    if (options.totalLevel > 0)
        options.level = options.totalLevel / spread;
    const double total = options.level * spread;
    LogLine() << "tavirel-siggen: " << describeSettings(options.tx) << ", " << options.formatName << " at "
              << options.tx.sampleRate << " samples/s, level " << options.level;
    // Gaussian peaks reach about four times the RMS of each component.
    if (options.format != IqFormat::F32 && total * 4.0 / std::sqrt(2.0) > 1.0)
        std::cerr << "tavirel-siggen: warning: signal and noise reach " << total
                  << " of full scale RMS and will clip; lower --level or give --total-level (0.25 keeps them clear)\n";
    const float scale = float(options.level * fullScale(options.format));
    const int sampleBytes = int(iqSampleBytes(options.format));
    std::vector<cf32> samples;
    std::vector<uint8_t> bytes;
    int64_t written = 0;
    size_t clipped = 0;
    Pacer pacer(options.tx.sampleRate);

    for (;;) {
        samples.clear();
        while (samples.size() < 16384) {
            generator.nextUnit(samples);
            if (sampleLimit >= 0 && written + int64_t(samples.size()) >= sampleLimit)
                break;
        }
        size_t n = samples.size();
        bool last = false;
        if (sampleLimit >= 0 && written + int64_t(n) >= sampleLimit) {
            n = size_t(sampleLimit - written);
            last = true;
        }
        bytes.resize(n * size_t(sampleBytes));
        clipped += convertSamples(samples.data(), n, scale, options.format, bytes.data());
        if (n > 0 && !sink->write(bytes.data(), bytes.size()))
            return fail(kExitIo, sink->error());
        written += int64_t(n);
        if (options.realtime)
            pacer.wrote(written);
        if (last)
            break;
    }
    symbolsOut.close();
    bbframesOut.close();
    LogLine() << "Wrote " << written << " samples (" << double(written) / double(options.tx.sampleRate)
              << " s)"
              << (clipped ? ", " + std::to_string(clipped) + " components beyond full scale"
                      + (options.format == IqFormat::F32 ? "" : " (clipped)")
                          : std::string());
    return finishOutput(options, "Test signal: " + describeSettings(options.tx), {describeSettings(options.tx)},
                        clipped, "lower --level or give --total-level");
}
