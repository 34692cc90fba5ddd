// The LDPC decoding stage on its worker thread.
#include "fec/LDPCWorker.h"

#include <cstring>
#include <new>

namespace {

void writeResult(WorkBuffer* tag, int32_t result)
{
    if (tag == nullptr)
        return;
    FrameTag t = readFrameTag(*tag);   // a tag too short reads as code 0: no code
    t.result = result;
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
    const int index = tag != nullptr ? codeIndexForFrame(readFrameTag(*tag).plsCode) : -1;
    {
        std::lock_guard<std::mutex> lock(codeMutex);
        if (index != currentCode) {
            code.reset();
            decoder.clear();
            currentCode = -1;
            if (index >= 0) {
                code.reset(createLdpcCode(index));
                ++rebuilds;
                if (code && decoder.build(*code, arena.get(), LdpcDecoder::kArenaBytes))
                    currentCode = index;
                else
                    code.reset();
            }
        }
    }
    std::lock_guard<std::mutex> lock(codeMutex);
    if (!code || frame == nullptr)
        return;
    const int n = decoder.codewordBits();
    if (frame->size() < size_t(n))
        return; // a truncated frame is not decoded and leaves as it came
    const int result = decoder.decodeFast(reinterpret_cast<const int8_t*>(frame->data()), frame->data());
    frame->resize(size_t(n / 8));
    writeResult(tag, result);
}
