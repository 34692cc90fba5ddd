#include "receiver/DvbsDecoding.h"

DvbsDecoding::DvbsDecoding(DvbS1OuterDecoder::PacketSink packets, std::function<void(int)> turn,
                           std::function<void()> turnSenseOver, std::function<void()> skipSoftValue)
    : outer(std::move(packets)),
      alignment({std::move(turn), std::move(skipSoftValue), [this]() { outer.resetSync(); }, std::move(turnSenseOver)})
{
}

void DvbsDecoding::decode(const uint8_t* bytes, size_t count, int period)
{
    if (resetRequested.exchange(false))
        outer.resetSync();
    outer.setReedSolomonEnabled(rsEnabled.load());
    alignment.setEnabled(searchEnabled.load());

    outer.processBytes(bytes, count);
    alignment.observe(bytes, count, period, {outer.syncState(), outer.syncConfidence(), outer.lockedPackets()});

    syncState.store(outer.syncState());
    confidence.store(outer.syncConfidence());
    lockedPackets.store(outer.lockedPackets());
    uncorrectable.store(outer.uncorrectableWords());
    derotation.store(alignment.derotation());
    searchSteps.store(alignment.steps());
    settled.store(alignment.settled());
}

DvbsDecoding::Status DvbsDecoding::status() const
{
    Status s;
    s.syncState = syncState.load();
    s.confidence = confidence.load();
    s.lockedPackets = lockedPackets.load();
    s.uncorrectable = uncorrectable.load();
    s.derotation = derotation.load();
    s.searchSteps = searchSteps.load();
    s.settled = settled.load();
    return s;
}
