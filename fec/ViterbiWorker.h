// The DVB-S inner decoding stage: depunctures and Viterbi-decodes the
// demodulator's symbols.
#pragma once

#include "core/Worker.h"
#include "fec/ViterbiDecoder.h"

#include <mutex>

// Input: DVB-S symbols, one complex float (I, Q) per symbol. Output: the
// emptied buffer, refilled with the decoded bytes (a multiple of 8, maybe 0).
// Rate, turn and skip requests apply at block boundaries; made from the
// completion callback, they apply from the very next block.
class ViterbiWorker : public Worker {
public:
    explicit ViterbiWorker(DoneCallback onDone, ViterbiDecoder::Kernel kernel = ViterbiDecoder::Kernel::Vector);
    ~ViterbiWorker() override;
    size_t objectSize() const override { return sizeof(*this); }
    void process(WorkBuffer* input, WorkBuffer* output) override;
    // Fewer decoded bytes than the complex-float symbols they come from.
    static constexpr size_t outputBytes(size_t inputBytes) { return inputBytes; }

    // The depuncturing combo box: 0 = 1/2 … 4 = 7/8. Logs the index, then the
    // rate's name ("FEC 3/4") or "Unknown FEC!!!"; a negative index changes nothing.
    void setDepunctureIndex(int index);
    // The symbol-skip button: the next soft value is dropped.
    void requestSymbolSkip();
    // n presses of the skip button: the next n soft values are dropped.
    void skipSoftValues(int n);
    // Turns the symbols by −quarterTurns × 90° before decoding, on top of
    // the demodulator's derotation (the alignment search's turn).
    void setQuarterTurns(int quarterTurns);
    int quarterTurns();
    // Takes the symbols' mirror image (conjugate) before turning them: a
    // spectrum the other way round, which no turn undoes (the alignment
    // search's sense).
    void setMirrored(bool on);
    bool mirrored();

    int rateType();
    // Soft values per depuncturing period of the current rate.
    int period();

private:
    std::mutex paramMutex;
    ViterbiDecoder decoder;
    int turns = 0;   // 0 … 3
    bool mirror = false;
};
