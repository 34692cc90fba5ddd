// The whole receiving chain fed with the test transmitter's samples as a file
// input feeds it (as fast as the chain takes them), and what came out of it:
// every frame found, in order, with its result; whether the chain said it was
// receiving when each decoded frame came out; the transport stream checked
// packet by packet against the built-in source's counters.
#pragma once

#include "receiver/ProcessingChain.h"
#include "receiver/ReceiverSettings.h"
#include "tx/SignalGenerator.h"

#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace testsupport {

struct ChainReception {
    std::vector<int32_t> results;   // per frame found: LDPC passes left, −1 failed
    int decoded = 0;
    int failed = 0;
    // Frames decoded after the first decoded one while the chain said it
    // was not receiving (the lock indicator's lie).
    int decodedWhileNotReceiving = 0;
    // Failed frames after the first decoded one.
    int failedAfterFirst = 0;
    uint64_t packets = 0;            // of the counter PID, without the error indicator
    uint64_t damagedPackets = 0;     // ... whose bytes differ from what was sent
    uint64_t counterSteps = 0;       // ... that did not follow on from the last one
    uint64_t missedPackets = 0;      // ... the counters those steps passed over
    // Frames lost after the first decoded, failed or never found: the
    // packets missed, in frames of the packets the decoded ones carried.
    int framesLostAfterFirst() const
    {
        return decoded > 0 && packets > 0
                   ? int(std::lround(double(missedPackets) * double(decoded) / double(packets)))
                   : 0;
    }
    uint64_t flaggedPackets = 0;     // the error indicator set (any PID)
    double carrierOffsetHz = 0;      // at the end
    bool receivingAtEnd = false;
    int inputStreamAtEnd = -1;       // the ISI passed once all is through
    uint64_t droppedBlocks = 0;      // the chain ran out of buffers
};

// `frames` frames (DVB-S2 units) from the transmitter, made as they go in,
// through a chain set up by `settings`; scaled to 16 bits so that the first
// ten have an RMS of 30 % of full scale (as a radio's gain control would set
// them).
// `during` (when given) is called after each chunk of samples goes in.
ChainReception receive(const tx::TxSettings& transmitter, int frames, const ReceiverSettings& settings,
                       const std::function<void(ProcessingChain&)>& during = {});

} // namespace testsupport
