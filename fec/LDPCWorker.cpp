// The LDPC decoding stage on its worker thread.
#include "fec/LDPCWorker.h"

#include <cstring>
#include <new>

namespace {

void writeResult(WorkBuffer* tag, int32_t result)
{
    if (tag == nullptr)
        return;
    if (tag->size() < size_t(LDPCWorker::kTagBytes))
        tag->resize(LDPCWorker::kTagBytes, 0); // a missing tag byte reads as MODCOD 0: no code
    const uint32_t value = uint32_t(result);
    for (int b = 0; b < 4; ++b)
        (*tag)[size_t(1 + b)] = uint8_t(value >> (8 * b));
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

int32_t LDPCWorker::tagResult(const WorkBuffer& tag)
{
    if (tag.size() < size_t(kTagBytes))
        return -1;
    uint32_t value = 0;
    for (int b = 0; b < 4; ++b)
        value |= uint32_t(tag[size_t(1 + b)]) << (8 * b);
    return int32_t(value);
}

void LDPCWorker::process(WorkBuffer* frame, WorkBuffer* tag)
{
    writeResult(tag, -1);
    if (!decodingEnabled.load(std::memory_order_seq_cst))
        return;
    const int index = tag != nullptr ? codeIndexForFrame((*tag)[0]) : -1;
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
