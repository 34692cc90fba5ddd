// The LDPC decoding stage on its worker thread.
#include "fec/LDPCWorker.h"

#include "fec/ApskConstellation.h"
#include "fec/BbDescrambleTable.h"
#include "fec/ChannelLlr.h"

#include <cstring>
#include <new>

namespace {

void writeResult(WorkBuffer* tag, int32_t result, bool bchFailed = false, int bchCorrected = 0, int passes = 0)
{
    if (tag == nullptr)
        return;
    FrameTag t = readFrameTag(*tag);   // a tag too short reads as code 0: no code
    t.result = result;
    t.passesAllowed = int16_t(passes);
    t.bchFailed = bchFailed;
    t.bchCorrected = int16_t(bchCorrected);
    writeFrameTag(*tag, t);
}

} // namespace

void LDPCWorker::ArenaDeleter::operator()(uint8_t* p) const
{
    ::operator delete(p, std::align_val_t(64));
}

LDPCWorker::LDPCWorker(DoneCallback onDone)
    : Worker(std::move(onDone)),
      arena(static_cast<uint8_t*>(::operator new(LdpcDecoder::kArenaBytes, std::align_val_t(64))))
{
}

LDPCWorker::~LDPCWorker()
{
    stop();
}

int LDPCWorker::currentCodeIndex() const
{
    std::lock_guard<std::mutex> lock(codeMutex);
    return currentCode;
}

int LDPCWorker::rebuildCount() const
{
    std::lock_guard<std::mutex> lock(codeMutex);
    return rebuilds;
}

void LDPCWorker::process(WorkBuffer* frame, WorkBuffer* tag)
{
    writeResult(tag, -1);
    if (!decodingEnabled.load(std::memory_order_seq_cst))
        return;
    const FrameTag received = tag != nullptr ? readFrameTag(*tag) : FrameTag();
    const int index = tag != nullptr ? codeIndexForFrame(received.plsCode) : -1;
    {
        std::lock_guard<std::mutex> lock(codeMutex);
        if (index != currentCode) {
            code.reset();
            bch.reset();
            decoder.clear();
            currentCode = -1;
            if (index >= 0) {
                code.reset(createLdpcCode(index));
                ++rebuilds;
                if (code && decoder.build(*code, arena.get(), LdpcDecoder::kArenaBytes)) {
                    currentCode = index;
                    // The decoder hands on the codeword XORed with the BB
                    // descrambling sequence over its whole length.
                    bch = std::make_unique<BchDecoder>(index, kBbScrambleTable.data());
                } else {
                    code.reset();
                }
            }
        }
    }
    std::lock_guard<std::mutex> lock(codeMutex);
    if (!code || frame == nullptr)
        return;
    const int n = decoder.codewordBits();
    if (frame->size() < size_t(n))
        return; // a truncated frame is not decoded and leaves as it came
    int8_t* values = reinterpret_cast<int8_t*>(frame->data());
    // APSK values are the symbols themselves: they decode only as LLRs.
    const bool apsk = apskConstellation(received.plsCode & 0x1F) != nullptr;
    const bool scaled = (decoderChoice.load() == LdpcDecoderChoice::Scaled || apsk)
                        && ChannelLlr::convert(values, n, received.plsCode, received.qualityDb);
    decoder.setProfile(scaled ? LdpcDecoder::scaledProfile(index) : LdpcDecoder::standardProfile());
    const int result = decoder.decodeFast(values, frame->data());
    frame->resize(size_t(n / 8));
    const int corrected = bch ? bch->decode(frame->data()) : 0;
    const int passes = decoder.profile().passes;
    if (corrected == BchDecoder::kFailed)
        writeResult(tag, -1, true, 0, passes);
    else if (wordIsGood(result, corrected, decoder))
        writeResult(tag, result >= 0 ? result : 0, false, corrected, passes);
    else
        writeResult(tag, -1, false, 0, passes);
}

bool LDPCWorker::wordIsGood(int ldpcResult, int bchCorrected, const LdpcDecoder& decoder)
{
    if (bchCorrected == BchDecoder::kFailed)
        return false;
    return ldpcResult >= 0 || bchCorrected > 0 || decoder.failingChecks() <= kFewFailingChecks;
}
