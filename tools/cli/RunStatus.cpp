#include "RunStatus.h"

#include "receiver/ProcessingChain.h"
#include "core/Worker.h"
#include "demod/PlSignalling.h"

#include <algorithm>
#include <cstdlib>
#include <cxxabi.h>
#include <cmath>
#include <cstdio>
#include <iomanip>
#include <locale>
#include <sstream>

RunStatus::RunStatus(ProcessingChain& chain, bool dvbS2, bool json, double sampleRate)
    : chain(chain), dvbS2(dvbS2), json(json), sampleRate(sampleRate)
{
}

void RunStatus::onTransportStream(const uint8_t* bytes, size_t length)
{
    std::lock_guard<std::mutex> lock(mutex);
    continuity.addPackets(bytes, length);
}

void RunStatus::onFrameResult(int32_t result, int passesAllowed)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (result >= 0) {
        ++framesDecoded;
        passes += uint64_t(std::max(0, passesAllowed - result));
    } else {
        ++framesFailed;
    }
}

void RunStatus::onServices(const std::vector<std::string>& lines)
{
    std::lock_guard<std::mutex> lock(mutex);
    services = lines;
}

void RunStatus::onSamplesRead(uint64_t count)
{
    samples.fetch_add(count, std::memory_order_relaxed);
}

void RunStatus::setOuterDecoder(int confidence, uint64_t uncorrectable)
{
    std::lock_guard<std::mutex> lock(mutex);
    syncConfidence = confidence;
    rsUncorrectable = uncorrectable;
}

void RunStatus::holdSignalQuality(const SignalQualityReading& reading)
{
    std::lock_guard<std::mutex> lock(mutex);
    heldQuality = reading;
}

namespace {

// dB with a fixed number of decimals and a decimal point, whatever locale
// the C library was given.
std::string decibels(double value, int decimals)
{
    std::ostringstream s;
    s.imbue(std::locale::classic());
    s << std::fixed << std::setprecision(decimals) << value;
    return s.str();
}

} // namespace

std::string jsonText(const nlohmann::ordered_json& object)
{
    // JSON is UTF-8: bytes of a service name that are not stay readable.
    return object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

void RunStatus::holdReception(bool receiving, const std::string& problem)
{
    std::lock_guard<std::mutex> lock(mutex);
    heldReception.emplace(receiving, problem);
}

std::string RunStatus::line(const char* kind)
{
    return line(kind, json);
}

std::string RunStatus::line(const char* kind, bool asJson)
{
    DemodWorker& demod = chain.demodWorker();
    const int frameLock = demod.lockCounter();
    const SignalQualityReading measured = demod.signalQuality();
    // The code of the last frame that decoded: a header read from noise
    // spells codes the stream does not carry.
    const int decoded = chain.lastDecodedPlsCode();
    const uint64_t dropped = chain.droppedBlocks();
    const uint64_t bchCorrected = chain.bchCorrectedBits();
    const uint64_t bchFailures = chain.bchFailures();
    const uint64_t lost = outputLoss ? outputLoss() : 0;
    // The rate the timing loop tracks, through the decimation.
    const double trackedRate = chain.trackedSymbolsPerInputSample() * sampleRate;
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const uint64_t clipped = chain.clippedSamples();
    const double carrierHz = chain.carrierOffset() * sampleRate;
    bool chainReceiving = chain.receiving();
    std::string problem = chain.receptionProblem();

    std::lock_guard<std::mutex> lock(mutex);
    if (heldReception) {
        chainReceiving = heldReception->first;
        problem = heldReception->second;
    }
    // Locked while frames decode (DVB-S: the transport-stream sync of the
    // outer decoder holds) and samples come; the framing's own counter is
    // shown beside it.
    const bool locked = (dvbS2 ? chainReceiving : syncConfidence >= 16) &&
                        problem.compare(0, 8, "no input") != 0;
    if (locked)
        problem.clear();
    else if (problem.empty())
        problem = "no signal";
    const int confidence = dvbS2 ? frameLock : syncConfidence;

    const double inputRate = elapsed > 0 ? double(samples.load(std::memory_order_relaxed)) / elapsed : 0.0;
    // The code is shown while the frames decode; after they stop, the last
    // one that did, as such.
    const int shown = chain.currentPlsCode(locked);
    const bool current = shown >= 0;
    const uint8_t pls = uint8_t(current ? shown : 0);
    const std::string modcod = s2ModcodRow(pls & 31).name;
    const std::string frame = plsFrameText(pls);
    const std::string lastDecoded = decoded >= 0 ? plsCodeText(uint8_t(decoded)) : "";
    SignalQualityReading quality = heldQuality ? *heldQuality : measured;
    // No MER for a signal that is not being received: the last one measured
    // would read as the signal's.
    if (!locked)
        quality.merValid = false;
    // Multiple input streams: the one passed and every one seen.
    const std::vector<BbFrameProcessor::InputStream> streams = dvbS2 ? chain.inputStreams() : std::vector<BbFrameProcessor::InputStream>();
    const int passedIsi = chain.inputStream();
    // How much of a file has been read, and the time left at the rate so far.
    const uint64_t read = samples.load(std::memory_order_relaxed);
    const bool progressKnown = inputLength > 0;
    const double fractionRead = progressKnown ? std::min(1.0, double(read) / double(inputLength)) : 0.0;
    const bool timeLeftKnown = progressKnown && inputRate > 0;
    const double secondsLeft =
        timeLeftKnown ? double(inputLength - std::min(read, inputLength)) / inputRate : 0.0;
    std::ostringstream out;
    if (asJson) {
        using nlohmann::ordered_json;
        auto orNull = [](bool known, const ordered_json& value) { return known ? value : ordered_json(nullptr); };
        auto rounded = [](double value) { return std::round(value * 100) / 100; };
        ordered_json j;
        j["type"] = kind;
        j["elapsed"] = elapsed;
        j["locked"] = locked;
        j["reception"] = locked ? std::string("receiving") : problem;
        j["confidence"] = confidence;
        j["mer_db"] = orNull(quality.merValid, rounded(quality.merDb));
        j["esn0_db"] = orNull(quality.valid, rounded(quality.esn0Db));
        if (dvbS2) {
            j["modcod"] = orNull(current, modcod);
            // Kept for readers of earlier versions, where a MODCOD could be
            // tracked and not decoded: every one decodes now.
            j["modcod_decoded"] = true;
            j["pls"] = orNull(current, int(pls));
            j["frame"] = orNull(current, frame);
            j["last_modcod"] = orNull(decoded >= 0, lastDecoded);
            j["frames_decoded"] = framesDecoded;
            j["frames_failed"] = framesFailed;
            j["average_passes"] = framesDecoded > 0 ? double(passes) / double(framesDecoded) : 0.0;
            j["packet_crc_errors"] = chain.packetCrcFailures();
            j["packets_from_failed_frames"] = chain.packetsFromFailedFrames();
            j["bch_corrected_bits"] = bchCorrected;
            j["bch_failures"] = bchFailures;
            j["isi"] = orNull(passedIsi >= 0, passedIsi);
            ordered_json all = ordered_json::array();
            for (const BbFrameProcessor::InputStream& stream : streams)
                all.push_back({{"isi", stream.isi}, {"frames", stream.frames}, {"packets", stream.packets}});
            j["input_streams"] = all;
        } else {
            j["rs_uncorrectable"] = rsUncorrectable;
        }
        j["ts_packets"] = continuity.packets();
        j["ts_damaged"] = continuity.damagedPackets();
        ordered_json perPid = ordered_json::object();
        for (const auto& e : continuity.errors())
            perPid[std::to_string(e.first)] = e.second;
        j["cc_errors"] = perPid;
        j["sdt_crc_errors"] = chain.sdtCrcFailures();
        j["gse_crc_errors"] = chain.gseCrcFailures();
        j["services"] = services;
        j["symbol_rate"] = trackedRate;
        j["carrier_offset_hz"] = orNull(locked && dvbS2, std::lround(carrierHz));
        j["input_rate"] = inputRate;
        j["pool_in_use"] = chain.pool().allocatedCount();
        j["blocks_dropped"] = dropped;
        j["output_bytes_lost"] = lost;
        j["clipped_samples"] = clipped;
        j["input_read"] = orNull(progressKnown, fractionRead);
        j["seconds_left"] = orNull(timeLeftKnown, secondsLeft);
        return jsonText(j);
    }
    out << kind << ": " << (locked ? "locked" : "no lock") << " (" << confidence << "/32)";
    if (!locked)
        out << ", " << problem;
    if (quality.merValid)
        out << " | MER " << decibels(quality.merDb, 1) << " dB, Es/N0 " << decibels(quality.esn0Db, 1) << " dB";
    else if (quality.valid)
        out << " | Es/N0 " << decibels(quality.esn0Db, 1) << " dB";
    if (dvbS2) {
        if (current)
            out << " | " << modcod << " " << frame;
        else if (decoded >= 0)
            out << " | last " << lastDecoded;
        else if (framesDecoded + framesFailed > 0)
            out << " | no frame decoded";
        else
            out << " | no frames";
        out << " | frames " << framesDecoded
            << " ok, " << framesFailed << " failed";
        if (framesDecoded > 0) {
            char avg[32];
            std::snprintf(avg, sizeof avg, "%.1f", double(passes) / double(framesDecoded));
            out << ", " << avg << " passes";
        }
        out << " | BCH " << bchCorrected << " bits corrected, " << bchFailures << " failed";
        if (!streams.empty()) {
            out << " | ISI " << passedIsi << " of";
            for (const BbFrameProcessor::InputStream& s : streams)
                out << " " << s.isi << " (" << s.packets << " packets)";
        }
    } else {
        out << " | RS " << rsUncorrectable << " uncorrectable";
    }
    out << " | TS " << continuity.packets() << " packets, " << continuity.totalErrors() << " CC errors";
    if (dvbS2 && chain.packetCrcFailures() > 0)
        out << ", " << chain.packetCrcFailures() << " failed their CRC";
    for (const auto& e : continuity.errors())
        out << " [pid " << e.first << ": " << e.second << "]";
    char rates[96];
    std::snprintf(rates, sizeof rates, " | %.6f Msym/s", trackedRate / 1e6);
    out << rates;
    if (locked && dvbS2) {
        std::snprintf(rates, sizeof rates, " | carrier %+.1f kHz", carrierHz / 1e3);
        out << rates;
    }
    std::snprintf(rates, sizeof rates, " | input %.3f Msps | pool %d", inputRate / 1e6, chain.pool().allocatedCount());
    out << rates;
    if (clipped > 0)
        out << " | input clipping: " << clipped << " samples";
    if (dropped > 0)
        out << " | " << dropped << " blocks dropped";
    if (lost > 0)
        out << " | output lost " << lost << " bytes";
    for (const std::string& s : services)
        out << " | service " << s;
    if (progressKnown && std::string(kind) == "status") {
        const long left = std::lround(secondsLeft);
        char text[64];
        if (timeLeftKnown)
            std::snprintf(text, sizeof text, " | read %.0f %%, %ld:%02ld left", 100 * fractionRead, left / 60, left % 60);
        else
            std::snprintf(text, sizeof text, " | read %.0f %%", 100 * fractionRead);
        out << text;
    }
    return out.str();
}

namespace {

// A worker's class name as written ("LDPCWorker"), not as the compiler
// spells it ("10LDPCWorker").
std::string readableName(const char* name)
{
    if (name == nullptr)
        return "?";
    int status = -1;
    char* demangled = abi::__cxa_demangle(name, nullptr, nullptr, &status);
    const std::string readable = status == 0 && demangled != nullptr ? demangled : name;
    std::free(demangled);
    return readable;
}

} // namespace

std::string RunStatus::stageTimes(double symbolRate)
{
    const uint64_t read = samples.load(std::memory_order_relaxed);
    const double symbols = double(read) * symbolRate / sampleRate;
    auto thousandths = [](double value) { return std::round(value * 1000) / 1000; };
    std::ostringstream out;
    nlohmann::ordered_json workers = nlohmann::ordered_json::array();
    if (!json)
        out << "stages: " << read << " samples, " << uint64_t(symbols) << " symbols";
    double total = 0;
    for (Worker* w : chain.workers()) {
        const double seconds = double(w->cpuNanoseconds()) * 1e-9;
        total += seconds;
        const double perSymbol = symbols > 0 ? seconds * 1e9 / symbols : 0.0;
        const std::string name = readableName(w->name());
        if (json) {
            workers.push_back({{"name", name}, {"cpu_s", thousandths(seconds)},
                               {"ns_per_symbol", std::round(perSymbol * 10) / 10}});
            continue;
        }
        char text[160];
        std::snprintf(text, sizeof text, " | %s %.3f s %.1f ns/sym", name.c_str(), seconds, perSymbol);
        out << text;
    }
    if (json) {
        nlohmann::ordered_json j;
        j["type"] = "stages";
        j["symbols"] = symbols;
        j["workers"] = workers;
        j["total_cpu_s"] = thousandths(total);
        return jsonText(j);
    }
    char text[96];
    std::snprintf(text, sizeof text, " | total %.3f s %.1f ns/sym", total, symbols > 0 ? total * 1e9 / symbols : 0.0);
    out << text;
    return out.str();
}
