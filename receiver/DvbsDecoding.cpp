#include "receiver/DvbsDecoding.h"

#include "core/Log.h"

DvbsDecoding::DvbsDecoding(DvbS1OuterDecoder::PacketSink packets, std::function<void(int)> turn,
                           std::function<void()> turnSenseOver, std::function<void()> skipSoftValue)
    : outer(std::move(packets)),
      alignment({std::move(turn), std::move(skipSoftValue), [this]() { outer.resetSync(); },
                 [turnOver = std::move(turnSenseOver)]() {
                     if (turnOver)
                         turnOver();
                     LogLine() << "DVB-S alignment: spectrum sense turned over";
                 },
                 [](int derotation, int skip) {
                     LogLine() << "DVB-S alignment: derotate " << derotation << ", skip " << skip;
                 }})
{
    outer.setEvents({[]() { LogLine() << "SYNC_LOCKING"; },
                     [](size_t bits) { LogLine() << "Reed Solomon corrected " << bits << " errors."; }});
}

void DvbsDecoding::decode(const uint8_t* bytes, size_t count, int period)
{
    if (resetRequested.exchange(false)) {
        outer.resetSync();
        resets.fetch_add(1);
    }
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
    s.resets = resets.load();
    return s;
}
