// The LDPC decoding stage: one DVB-S2 XFECFRAME of soft values in, the decided
// and BB-descrambled codeword out, with the decode result in the frame's tag.
#pragma once

#include "core/Worker.h"
#include "fec/BchDecoder.h"
#include "fec/FrameTag.h"
#include "fec/LdpcCode.h"
#include "fec/LdpcDecoder.h"
#include "fec/LdpcDecoderChoice.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

// Work item: input = frame buffer (64800 soft values, positive = bit 0),
// output = the frame's tag buffer (fec/FrameTag.h): the decoder reads the PLS
// code and writes the result (update passes left on success, −1 when
// decoding failed, was disabled or no code applies).
//
// The decided codeword then goes through the outer BCH decoder: the bits it
// corrects (bchCorrected) are fixed in place, and a frame in which it
// corrects bits is good even when the LDPC decoding did not converge (result
// 0). One it finds clean keeps the LDPC result: a word the LDPC decoder could
// not make consistent is not taken as good on the BCH check alone (an
// all-zero frame of no signal passes it). A frame with more errors than the
// BCH code corrects is marked bchFailed and fails (−1), whatever the LDPC
// result.
//
// When a code applies, the frame buffer leaves holding N/8 bytes: the decided
// codeword, MSB first, XORed with the BB scrambling sequence. Otherwise (no
// code, decoding disabled, or fewer than N soft values) it leaves unchanged.
class LDPCWorker : public Worker {
public:
    static constexpr int kFrameValues = 64800;

    explicit LDPCWorker(DoneCallback onDone);
    ~LDPCWorker() override;

    size_t objectSize() const override { return sizeof(LDPCWorker); }
    void process(WorkBuffer* frame, WorkBuffer* tag) override;

    // Written by the GUI thread; read once per frame.
    void setDecodingEnabled(bool enabled) { decodingEnabled.store(enabled, std::memory_order_seq_cst); }
    bool isDecodingEnabled() const { return decodingEnabled.load(std::memory_order_seq_cst); }
    void setDecoderChoice(LdpcDecoderChoice choice) { decoderChoice.store(choice); }
    LdpcDecoderChoice currentDecoderChoice() const { return decoderChoice.load(); }

    // Code index the structure was built for, −1 for none.
    int currentCodeIndex() const;
    // Times the code structure has been built since construction.
    int rebuildCount() const;

    // How a decoded word is judged, from the LDPC result, what the BCH
    // decoder made of it and the decoder's final state: good when every
    // LDPC check holds, when BCH corrects it, or when BCH finds it clean
    // while at most kFewFailingChecks LDPC checks fail. Near the threshold
    // a word often ends with a parity bit or two still swinging at the last
    // pass (two or four checks failing); its BCH word is the one sent. A
    // word BCH cannot correct fails, and so does an undecided one (values
    // all zero, a frame of silence), which fails every check.
    static constexpr int kFewFailingChecks = 8;
    static bool wordIsGood(int ldpcResult, int bchCorrected, const LdpcDecoder& decoder);

private:
    struct ArenaDeleter {
        void operator()(uint8_t* p) const;
    };

    std::atomic<bool> decodingEnabled{true};
    std::atomic<LdpcDecoderChoice> decoderChoice{LdpcDecoderChoice::Scaled};
    mutable std::mutex codeMutex;
    std::unique_ptr<uint8_t, ArenaDeleter> arena;
    int32_t currentCode = -1;
    std::unique_ptr<LDPCInterface> code;
    std::unique_ptr<BchDecoder> bch;
    LdpcDecoder decoder;
    int rebuilds = 0;
};
