// DVB-S inner decoder, EN 300 421 §4.4.4: depuncturing of rates 1/2 … 7/8
// and a 64-state soft-decision Viterbi decoder for the K = 7 code with
// generators 171 (X) and 133 (Y) octal.
#pragma once

#include <complex>
#include <cstddef>
#include <cstdint>
#include <vector>

// Survivors are kept as 192-bit histories: the decoded bit of a step is the
// oldest bit of state 0's history, so it leaves 197 steps after its encoder
// input, and the first 191 bits after start-up are 0. Output leaves in bytes,
// eight at a time after every 64 steps, most significant first, without any
// alignment to the transport stream.
//
// Path metrics are 16-bit (the vector kernel) or 32-bit (the reference), never
// 8-bit: with soft values limited to ±127 the spread of the 64 metrics stays
// below 12 × 254 and no metric leaves the 16-bit range between two
// renormalisations, so no decision is ever decided by an overflow. Where
// 8-bit wrap-around metrics stay in range, both give the same decisions.
//
// The reference keeps every state's history by register exchange. The vector
// kernel gives the same bit at a fraction of the memory traffic (a register
// exchange moves 64 × 192 bits a step): it keeps the decisions of the last
// 512 steps and, for the two latest checkpoints (every 96 steps), which state
// each survivor passed through there (64 bytes, updated with byte shuffles).
// State 0's survivor, followed back from its checkpoint state 96 … 191 steps
// ago, gives the oldest history bit; that path changes seldom and is traced
// again only when it does.
class ViterbiDecoder {
public:
    enum class Kernel { Reference, Vector };

    static constexpr int kStates = 64;
    static constexpr int kRateCount = 5;
    static constexpr int kHistoryBits = 192;
    static constexpr int32_t kSoftLimit = 127;

    explicit ViterbiDecoder(Kernel kernel = Kernel::Vector);

    // Soft values per depuncturing period of a rate type (0 = 1/2 … 4 = 7/8);
    // 2 for any other type.
    static int periodOfRate(int rateType);
    // "FEC 1/2" … "FEC 7/8"; null for an unknown type.
    static const char* rateName(int rateType);

    // Restarts the period count; metrics, histories and counters stay. An
    // unknown type collects values but decodes nothing.
    void setRateType(int rateType);
    int rateType() const { return rate; }
    int period() const { return periodLength; }
    // Drops the next soft value. A flag: asking twice before it is used
    // drops one value.
    void requestSkip() { skips = skips > 0 ? skips : 1; }
    // Drops the next n soft values on top of any skip pending (n presses of
    // the button, each used before the next).
    void dropValues(int n) { skips += n > 0 ? n : 0; }
    bool skipPending() const { return skips > 0; }

    // A symbol component × 8, truncated toward zero, limited to ±127 (NaN: 0).
    static int32_t softValue(float component);

    // Appends the bytes completed by these symbols (I then Q of each).
    void decodeSymbols(const std::complex<float>* symbols, size_t count, std::vector<uint8_t>& out);
    // The same from soft values in arrival order (values beyond ±127 are limited).
    void decodeSoft(const int32_t* values, size_t count, std::vector<uint8_t>& out);

    // Values waiting for their period to complete.
    int pendingValues() const { return valueCount; }

private:
    void pushValue(int32_t value, std::vector<uint8_t>& out);
    void decodeLimited(const int32_t* soft, size_t count, std::vector<uint8_t>& out);
    void runPeriod(const int32_t* period, std::vector<uint8_t>& out);
    void step(int32_t x, int32_t y, std::vector<uint8_t>& out);
    uint32_t stepReference(int32_t x, int32_t y, bool renormalise);
    uint32_t stepVector(int32_t x, int32_t y, bool renormalise);
    void startCheckpoint(uint64_t t);
    uint32_t oldestBit(uint64_t t);

    Kernel kernel;
    int rate = 0;
    int periodLength = 2;
    int32_t values[8] = {};
    int valueCount = 0;
    int skips = 0;   // soft values still to drop
    uint32_t stepCounter = 0;   // modulo 64
    uint64_t outputRegister = 0;

    // Reference: metrics and histories, current and next.
    int32_t refMetric[2][kStates] = {};
    uint64_t refHistory[2][kStates][3] = {};   // low, middle, high word
    int refCurrent = 0;

    // Vector kernel: metrics, decisions (bit s: state s chose predecessor
    // s/2 + 32), the survivors' states at the checkpoints, and state 0's
    // path over the 96 steps before the checkpoint in use.
    static constexpr uint64_t kCheckpointSpacing = 96;
    static constexpr uint64_t kDecisionRing = 512;
    alignas(16) int16_t metric[kStates] = {};
    alignas(16) uint8_t ancestor[2][kStates] = {};
    uint64_t decisions[kDecisionRing] = {};
    uint8_t segment[kCheckpointSpacing + 1] = {};
    uint64_t segmentEnd = ~uint64_t(0);
    uint64_t time = 0;   // steps so far
};
