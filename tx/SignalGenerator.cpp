#include "tx/SignalGenerator.h"

#include "tx/BuiltinTsSource.h"
#include "tx/Dvbs2Transmitter.h"
#include "tx/DvbsTransmitter.h"
#include "tx/TsBbFramer.h"
#include "tx/TsSource.h"

#include <cmath>
#include <sstream>

namespace tx {

namespace {

std::string number(double v)
{
    std::ostringstream s;
    s << v;
    return s.str();
}

} // namespace

std::string validateSettings(const TxSettings& s)
{
    if (s.symbolRate <= 0)
        return "the symbol rate must be positive";
    if (s.sampleRate <= 0)
        return "the sample rate must be positive";
    const double alpha = rollOffFactor(s.rollOff);
    const double bandwidth = (1.0 + alpha) * double(s.symbolRate);
    if (double(s.sampleRate) < bandwidth)
        return "sample rate " + number(double(s.sampleRate)) + " Hz is below the occupied bandwidth (1 + "
            + number(alpha) + ") x " + number(double(s.symbolRate)) + " = " + number(bandwidth) + " Hz";
    if (std::abs(s.frequencyOffset) + bandwidth / 2 > double(s.sampleRate) / 2)
        return "carrier offset " + number(s.frequencyOffset) + " Hz puts the signal (" + number(bandwidth)
            + " Hz wide) outside the sampled band of +/-" + number(double(s.sampleRate) / 2) + " Hz";
    if (s.spanSymbols < 2 || s.spanSymbols > 128 || s.spanSymbols % 2)
        return "the filter span must be an even number of symbols from 2 to 128";
    if (std::abs(s.timingOffset) >= 1.0)
        return "the symbol timing offset must lie between -1 and 1 symbol";
    if (s.standard == Standard::Dvbs) {
        if (s.rollOff != RollOff::R035)
            return "DVB-S uses roll-off 0.35 only (EN 300 421 §4.5)";
        if (s.gse)
            return "GSE needs DVB-S2 (--standard dvbs2)";
        if (!s.isis.empty())
            return "multiple input streams need DVB-S2 (--standard dvbs2)";
        return "";
    }
    if (s.modcods.empty())
        return "no MODCOD given";
    for (int m : s.modcods) {
        const std::string e = dataModcodError(m, s.frame);
        if (!e.empty())
            return e;
    }
    if (s.gse) {
        if (s.gseParams.pduSize < 1 || s.gseParams.pduSize > 65525)
            return "the GSE PDU size must be 1 to 65525 bytes";
        if (s.gseParams.labelType < 0 || s.gseParams.labelType > 3)
            return "the GSE label type must be 0, 1, 2 or 3";
        if (!s.tsPath.empty())
            return "--gse carries generated PDUs and cannot take a TS file";
    }
    if (s.services.empty())
        return "at least one service is needed";
    if (!s.isis.empty()) {
        std::vector<bool> seen(256, false);
        for (int isi : s.isis) {
            if (isi < 0 || isi > 255)
                return "an ISI must be 0 to 255";
            if (seen[size_t(isi)])
                return "ISI " + std::to_string(isi) + " is given twice";
            seen[size_t(isi)] = true;
        }
        if (s.gse)
            return "multiple input streams carry transport streams here, not GSE";
        if (!s.tsPath.empty())
            return "with multiple input streams give a TS file per ISI";
        if (!s.isiTsPaths.empty() && s.isiTsPaths.size() != s.isis.size())
            return "give a TS file for every ISI or for none";
        if (s.isiTsPaths.empty() && s.services.size() != 1 && s.services.size() != s.isis.size())
            return "give one service name for every ISI, or one for all";
    }
    return "";
}

double usefulTsRate(const TxSettings& s)
{
    if (s.standard == Standard::Dvbs)
        return 2.0 * double(s.symbolRate) * dvbsRateNumerator(s.dvbsRate) / dvbsRateDenominator(s.dvbsRate)
            * 188.0 / 204.0;
    if (s.gse)
        return 0.0;
    double bits = 0.0, symbols = 0.0;
    for (int m : s.modcods) {
        FecParams p;
        if (!fecParams(m, s.frame, p))
            return 0.0;
        bits += p.kbch - 80;
        symbols += plframeSymbols(m, s.frame, s.pilots);
    }
    return bits / symbols * double(s.symbolRate);
}

struct SignalGenerator::Chain {
    std::unique_ptr<TsPacketSource> source;
    std::vector<std::unique_ptr<TsPacketSource>> streamSources;   // multiple input streams
    std::vector<std::unique_ptr<TsBbFramer>> streamFramers;
    std::unique_ptr<NullFillSource> nullFill;
    std::unique_ptr<BbFrameBuilder> builder;
    std::unique_ptr<Dvbs2Transmitter> dvbs2;
    std::unique_ptr<DvbsTransmitter> dvbs;
    std::unique_ptr<PulseShaper> shaper;
    std::unique_ptr<Channel> channel;
    std::vector<cf32> symbols;
    bool dummy = false;
};

SignalGenerator::SignalGenerator(const TxSettings& s)
    : settings(s), chain(std::make_unique<Chain>())
{
    Chain& c = *chain;
    // One stream's TS: the file at `path`, or the built-in source of these
    // services, the channel's rate shared among `streams`.
    auto source = [&](const std::string& path, std::vector<std::string> services,
                      double streams) -> std::unique_ptr<TsPacketSource> {
        if (!path.empty()) {
            auto file = std::make_unique<TsFileSource>(path, s.tsLoop);
            if (!file->error().empty()) {
                problem = file->error();
                return nullptr;
            }
            return file;
        }
        BuiltinTsParams p;
        p.serviceNames = std::move(services);
        p.providers = s.providers;
        p.tsRate = usefulTsRate(s) / streams;
        p.payloadRate = s.payloadRate / streams;
        return std::make_unique<BuiltinTsSource>(p);
    };
    if (!s.isis.empty()) {
        std::vector<BbFrameBuilder*> framers;
        for (size_t k = 0; k < s.isis.size(); ++k) {
            const std::string name = s.services.size() == s.isis.size()
                                         ? s.services[k]
                                         : s.services[0] + " ISI " + std::to_string(s.isis[k]);
            c.streamSources.push_back(
                source(s.isiTsPaths.empty() ? std::string() : s.isiTsPaths[k], {name}, double(s.isis.size())));
            if (!c.streamSources.back())
                return;
            c.streamFramers.push_back(std::make_unique<TsBbFramer>(*c.streamSources.back(), s.rollOff, s.isis[k]));
            framers.push_back(c.streamFramers.back().get());
        }
        c.builder = std::make_unique<MisBbFramer>(framers);
    } else if (!(s.standard == Standard::Dvbs2 && s.gse)) {
        c.source = source(s.tsPath, s.services, 1.0);
        if (!c.source)
            return;
    }
    if (s.standard == Standard::Dvbs2) {
        if (s.gse)
            c.builder = std::make_unique<GseBbFramer>(s.gseParams, s.rollOff);
        else if (!c.builder)
            c.builder = std::make_unique<TsBbFramer>(*c.source, s.rollOff);
        Dvbs2Config config;
        config.modcods = s.modcods;
        config.frame = s.frame;
        config.pilots = s.pilots;
        c.dvbs2 = std::make_unique<Dvbs2Transmitter>(config, *c.builder);
    } else {
        c.nullFill = std::make_unique<NullFillSource>(*c.source);
        c.dvbs = std::make_unique<DvbsTransmitter>(s.dvbsRate, *c.nullFill);
    }
    PulseShaperParams shaping;
    shaping.rollOff = rollOffFactor(s.rollOff);
    shaping.symbolRate = s.symbolRate;
    shaping.sampleRate = s.sampleRate;
    if (s.sampleClockPpm != 0.0) {
        // Only the ratio counts: fs·(10^6 + ppm) samples for Rs·10^6 symbols.
        shaping.symbolRate = s.symbolRate * 1000000;
        shaping.sampleRate = int64_t(std::llround(double(s.sampleRate) * (1e6 + s.sampleClockPpm)));
    }
    shaping.spanSymbols = s.spanSymbols;
    shaping.timingOffset = s.timingOffset;
    c.shaper = std::make_unique<PulseShaper>(shaping);
    ChannelParams ch;
    ch.sampleRate = double(s.sampleRate);
    ch.samplesPerSymbol = samplesPerSymbol();
    ch.frequencyOffset = s.frequencyOffset;
    ch.phaseDegrees = s.phaseDegrees;
    ch.driftHzPerSecond = s.driftHzPerSecond;
    ch.phaseNoiseDegrees = s.phaseNoiseDegrees;
    ch.dropouts = s.dropouts;
    ch.noise = s.noise;
    ch.esn0Db = s.esn0Db;
    ch.seed = s.seed;
    c.channel = std::make_unique<Channel>(ch);
}

SignalGenerator::~SignalGenerator() = default;

double SignalGenerator::samplesPerSymbol() const
{
    return double(settings.sampleRate) / double(settings.symbolRate);
}

double SignalGenerator::noiseToSignalPower() const
{
    return settings.noise ? samplesPerSymbol() / std::pow(10.0, settings.esn0Db / 10.0) : 0.0;
}

bool SignalGenerator::lastWasDummy() const
{
    return chain->dummy;
}

size_t SignalGenerator::nextUnit(std::vector<cf32>& samples)
{
    Chain& c = *chain;
    c.symbols.clear();
    if (c.dvbs2) {
        c.dvbs2->nextFrame(c.symbols);
        c.dummy = c.dvbs2->lastWasDummy();
        if (!c.dummy && onBbframe)
            onBbframe(c.dvbs2->lastBbframe().data(), c.dvbs2->lastBbframe().size());
    } else {
        c.dvbs->nextPacket(c.symbols); // null packets once a TS file has ended
        c.dummy = false;
    }
    if (onSymbols)
        onSymbols(c.symbols.data(), c.symbols.size());
    const size_t before = samples.size();
    c.shaper->process(c.symbols.data(), c.symbols.size(), samples);
    c.channel->process(samples.data() + before, samples.size() - before);
    return c.symbols.size();
}

} // namespace tx
