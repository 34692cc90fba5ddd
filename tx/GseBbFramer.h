// Generic Stream Encapsulation (TS 102 606) of generated PDUs into the data
// fields of BBFRAMEs of a continuous generic stream (EN 302 307-1 §5.1.6:
// TS/GS = 01, UPL = 0, SYNC = 0, SYNCD = 0).
#pragma once

#include "tx/BbHeader.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tx {

struct GseParams {
    int pduSize = 1500;           // bytes per PDU, 1 … 65525
    int labelType = 0;            // 0: 6-byte label, 1: 3-byte, 2: none, 3: re-use
    uint16_t protocolType = 0x88B5; // IEEE 802 local experimental EtherType
};

// A PDU that does not fit in the rest of a data field is fragmented: a first
// fragment (S = 1, E = 0, fragment ID, total length), continuation fragments
// and an end fragment carrying the CRC-32 over total length, protocol type,
// label and PDU. Fragments after the first carry LT = 11, the value TS 102 606
// reserves for them. With label
// type 3 each frame's first labelled packet carries the 6-byte label (LT = 00)
// and later ones re-use it. A space too small for a useful packet ends the
// data field; the rest of the frame is padding.
// PDUs hold a 64-bit big-endian counter from 0, then bytes (counter + i) & 0xFF.
class GseBbFramer : public BbFrameBuilder {
public:
    static constexpr uint8_t kLabel[6] = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01};

    GseBbFramer(const GseParams& params, RollOff rollOff);

    bool build(int kbch, bool ccm, uint8_t* frame) override;

    // The PDU with a given counter value, as the receiver should get it.
    static std::vector<uint8_t> makePdu(uint64_t counter, int size);

private:
    void nextPdu();

    GseParams params;
    RollOff rollOff;
    std::vector<uint8_t> pdu;     // Protocol Type, label, PDU data: the part the total length counts
    size_t sent = 0;              // bytes of `pdu` already sent
    uint32_t crc = 0;             // CRC-32 over total length and `pdu`
    uint8_t fragmentId = 0;
    uint64_t counter = 0;
};

} // namespace tx
