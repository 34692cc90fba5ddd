#include "fec/DvbsAlignmentSearch.h"

#include <algorithm>
#include <utility>

namespace {

constexpr uint8_t kSync = 0x47;
constexpr uint8_t kInvertedSync = 0xB8;

} // namespace

DvbsAlignmentSearch::DvbsAlignmentSearch(Actions actions, uint64_t patienceBits)
    : actions(std::move(actions)),
      patience(std::max<uint64_t>(patienceBits, kMinimumSyncBytes * kPacketBits))
{
}

void DvbsAlignmentSearch::observe(const uint8_t* bytes, size_t n, int period, SyncStatus status)
{
    if (!enabled()) {
        lasting = false;
        kept = false;
        restartJudging();
        return;
    }
    if (period != lastPeriod) {
        // A new rate: its phases start again from the first.
        lastPeriod = period;
        skips = 0;
        kept = false;
        restartJudging();
        return;
    }
    const bool locked = status.state == 3;
    if (locked && status.lockedPackets >= kLastingLockPackets) {
        lasting = true;
        kept = true;
        restartJudging();
        return;
    }
    if (std::exchange(lasting, false)) {
        // The lock is lost: judge the combination again before leaving it.
        kept = false;
        restartJudging();
        return;
    }
    count(bytes, n);
    if (judgedBits < patience)
        return;
    switch (judge()) {
    case Verdict::Sync:
        // Worth keeping: the outer decoder is given time to lock, and the
        // combination is judged again meanwhile.
        kept = true;
        restartJudging();
        return;
    case Verdict::Inverted:
        turnHalf();
        return;
    case Verdict::NoSync:
        advance(period);
        return;
    }
}

void DvbsAlignmentSearch::count(const uint8_t* bytes, size_t n)
{
    uint8_t reg = shift;
    uint32_t pos = position;
    for (size_t k = 0; k < n; ++k) {
        const unsigned byte = bytes[k];
        for (int b = 7; b >= 0; --b) {
            reg = uint8_t((reg << 1) | ((byte >> b) & 1));
            if (reg == kSync)
                ++normalCount[pos];
            else if (reg == kInvertedSync)
                ++invertedCount[pos];
            if (++pos == kPacketBits)
                pos = 0;
        }
    }
    shift = reg;
    position = pos;
    judgedBits += 8 * uint64_t(n);
}

DvbsAlignmentSearch::Verdict DvbsAlignmentSearch::judge() const
{
    size_t best = 0;
    uint32_t bestHits = 0;
    for (size_t p = 0; p < kPacketBits; ++p) {
        const uint32_t hits = uint32_t(normalCount[p]) + invertedCount[p];
        if (hits > bestHits) {
            bestHits = hits;
            best = p;
        }
    }
    const uint64_t packets = judgedBits / kPacketBits;
    if (bestHits < kMinimumSyncBytes || 2 * uint64_t(bestHits) < packets)
        return Verdict::NoSync;
    // Sent: one inverted sync byte in eight.
    return invertedCount[best] > normalCount[best] ? Verdict::Inverted : Verdict::Sync;
}

void DvbsAlignmentSearch::restartJudging()
{
    normalCount.fill(0);
    invertedCount.fill(0);
    judgedBits = 0;
    position = 0;
    shift = 0;
}

void DvbsAlignmentSearch::advance(int period)
{
    restartJudging();
    kept = false;
    ++stepCount;
    const int skip = period > 0 ? (skips + 1) % period : 0;
    skips = skip;
    if (actions.skipSoftValue)
        actions.skipSoftValue();
    if (skip == 0) {
        // A whole period skipped: back at the first phase, a quarter turn on.
        const int turned = (rotation + 1) % 4;
        rotation = turned;
        if (actions.setDerotation)
            actions.setDerotation(turned * 64);
        if (turned == 0 && actions.turnSenseOver)
            actions.turnSenseOver();
    }
    if (actions.restartSync)
        actions.restartSync();
    if (actions.tried)
        actions.tried(rotation * 64, skip);
}

void DvbsAlignmentSearch::turnHalf()
{
    restartJudging();
    kept = false;
    ++stepCount;
    const int turned = (rotation + 2) % 4;
    rotation = turned;
    if (actions.setDerotation)
        actions.setDerotation(turned * 64);
    if (actions.restartSync)
        actions.restartSync();
    if (actions.tried)
        actions.tried(turned * 64, skips);
}
