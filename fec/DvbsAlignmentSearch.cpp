#include "fec/DvbsAlignmentSearch.h"

#include "core/Log.h"

DvbsAlignmentSearch::DvbsAlignmentSearch(Actions actions, uint64_t patienceBits)
    : actions(std::move(actions)),
      patience(patienceBits)
{
}

void DvbsAlignmentSearch::observe(size_t decodedBits, int period, SyncStatus status)
{
    if (!enabled()) {
        waited = 0;
        lasting.store(false);
        return;
    }
    if (period != lastPeriod) {
        lastPeriod = period;
        waited = 0;
        extended = false;
        skips.store(0);
    }
    const bool locked = status.state == 3;
    // A lock held over from the combination before is not this one's.
    if (!locked)
        unlockedSinceStep = true;
    if (locked && unlockedSinceStep && status.lockedPackets >= kLastingLockPackets) {
        lasting.store(true);
        waited = 0;
        return;
    }
    lasting.store(false);
    const bool promising = status.state >= 2 || (status.state == 1 && status.confidence >= 3);
    if (promising && !extended) {
        // Sync bytes found where they belong: time to finish locking.
        extended = true;
        waited = 0;
        return;
    }
    waited += decodedBits;
    // Once sync bytes are found, locking takes up to eight more packets to
    // the inverted sync byte and the lasting lock's sixteen.
    const uint64_t limit = extended ? patience + kLockingBits : patience;
    if (waited >= limit)
        advance(period);
}

void DvbsAlignmentSearch::advance(int period)
{
    waited = 0;
    extended = false;
    unlockedSinceStep = false;
    stepCount.fetch_add(1);
    const int skip = period > 0 ? (skips.load() + 1) % period : 0;
    skips.store(skip);
    if (actions.skipSoftValue)
        actions.skipSoftValue();
    if (skip == 0) {
        // A whole period skipped: back at the first phase, a quarter turn on.
        const int turned = (rotation.load() + 1) % 4;
        rotation.store(turned);
        if (actions.setDerotation)
            actions.setDerotation(turned * 64);
    }
    LogLine() << "DVB-S alignment: derotate " << rotation.load() * 64 << ", skip " << skip;
}
