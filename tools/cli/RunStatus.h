// What tavirel-cli reports: counters fed from the chain's observers (on its
// worker threads) and readouts of the demodulator, printed as status lines,
// a summary, or one JSON object per line.
#pragma once

#include "demod/SignalQuality.h"
#include "stream/TsContinuity.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class ProcessingChain;

class RunStatus {
public:
    RunStatus(ProcessingChain& chain, bool dvbS2, bool json, double sampleRate);

    // Observer feeds, any thread.
    void onTransportStream(const uint8_t* bytes, size_t length);
    // A frame's LDPC result (passes left, −1 failed) and the decoder's pass budget.
    void onFrameResult(int32_t result, int passesAllowed = 32);
    void onServices(const std::vector<std::string>& lines);
    void onSamplesRead(uint64_t count);
    // The input's length in samples (a file): status lines show how much of
    // it has been read and the time left at the rate so far.
    void setInputLength(uint64_t samples) { inputLength = samples; }
    // DVB-S: the outer decoder's sync confidence (0 … 32) and the words
    // Reed–Solomon could not correct.
    void setOuterDecoder(int confidence, uint64_t uncorrectable);
    // Bytes the outputs lost (failed writes), read at each report.
    void setOutputLoss(std::function<uint64_t()> lostBytes) { outputLoss = std::move(lostBytes); }
    // From now on reports show this MER and Es/N0 instead of the
    // demodulator's: the signal's, taken before the silence that ends an
    // input (and that would count in the measurement).
    void holdSignalQuality(const SignalQualityReading& reading);
    // Likewise whether the chain was receiving, and why not, when the input ended.
    void holdReception(bool receiving, const std::string& problem);

    // "status" lines while running, "summary" at the end.
    std::string line(const char* kind);
    // The same as JSON or as text, whichever the reports are.
    std::string line(const char* kind, bool asJson);
    // CPU time per stage: each worker's seconds and nanoseconds per symbol.
    std::string stageTimes(double symbolRate);

private:
    ProcessingChain& chain;
    const bool dvbS2;
    const bool json;
    const double sampleRate;
    const std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();

    std::mutex mutex;
    TsContinuity continuity;
    uint64_t framesDecoded = 0;
    uint64_t framesFailed = 0;
    uint64_t passes = 0;
    int syncConfidence = 0;
    uint64_t rsUncorrectable = 0;
    std::atomic<uint64_t> samples{0};   // counted per sample on TCP input: no lock
    uint64_t inputLength = 0;           // 0: not known
    std::vector<std::string> services;
    std::function<uint64_t()> outputLoss;
    std::optional<SignalQualityReading> heldQuality;
    std::optional<std::pair<bool, std::string>> heldReception;
};

// One JSON object on one line.
std::string jsonText(const nlohmann::ordered_json& object);
