#include "stream/BbFrameProcessor.h"

#include "stream/Crc.h"
#include "stream/TsPacket.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

const char* const kTsGs[4] = {"PACKETIZED", "CONTINUOUS", "RESERVED  ", "TRANSPORT "};
const char* const kRollOffText[4] = {"0.35", "0.25", "0.20", "????"};
const float kRollOff[4] = {0.35f, 0.25f, 0.20f, 0.0f};

} // namespace

std::string bbHeaderLine(const BbHeaderFields& h, int32_t r, int passes)
{
    char line[192];
    std::snprintf(line, sizeof line,
                  "BBHEADER TYPE: %s, %s, %s, ISSYI: %c, NPD: %c, RO: %s, ISI: %3u, UPL: 0x%04hx, DFL: 0x%04hx, "
                  "SYNC: 0x%02hhx, SYNCD: 0x%04hx, CRC: 0x%02x | LDPC [%s] %2d/%2d",
                  kTsGs[h.tsgs()], (h.matype1 & 0x20) ? "SIS" : "MIS", (h.matype1 & 0x10) ? "CCM" : "ACM",
                  (h.matype1 & 0x08) ? '1' : '0', (h.matype1 & 0x04) ? '1' : '0', kRollOffText[h.rollOffCode()],
                  unsigned(h.isi), h.upl, h.dfl, h.sync, h.syncd, unsigned(h.crc), r >= 0 ? "OK" : "  ",
                  r >= 0 ? passes - r : passes, passes);
    return line;
}

void BbFrameProcessor::lost()
{
    handOnHeldUnchecked();
    if (hooks.discontinuity)
        hooks.discontinuity();
}

void BbFrameProcessor::flush()
{
    std::lock_guard<std::mutex> lock(frameMutex);
    handOnHeldUnchecked();
}

void BbFrameProcessor::handOnHeldUnchecked()
{
    if (heldLength == held.size())
        handOnHeld(false);
    heldLength = 0;
}

void BbFrameProcessor::packetBegins(uint8_t check)
{
    if (heldLength == held.size())
        handOnHeld(crc8Dvbs2(held.data() + 1, held.size() - 1) != check);
    heldLength = 0;
}

void BbFrameProcessor::handOnHeld(bool crcFailed)
{
    held[0] = kTsSyncByte;
    if (crcFailed)
        crcFailures.fetch_add(1, std::memory_order_relaxed);
    if (heldDamaged)
        damagedPackets.fetch_add(1, std::memory_order_relaxed);
    if (crcFailed || heldDamaged)
        held[1] |= 0x80;
    heldLength = 0;
    if (hooks.transportStream)
        hooks.transportStream(held.data(), held.size(), true);
}

std::vector<BbFrameProcessor::InputStream> BbFrameProcessor::inputStreams()
{
    std::lock_guard<std::mutex> lock(streamsMutex);
    std::vector<InputStream> seen;
    for (const InputStream& s : streams)
        if (s.frames > 0)
            seen.push_back(s);
    return seen;
}

bool BbFrameProcessor::passesStream(const BbHeaderFields& h)
{
    {
        std::lock_guard<std::mutex> lock(streamsMutex);
        InputStream& s = streams[h.isi];
        s.isi = h.isi;
        ++s.frames;
        if (h.tsgs() == 3 && h.dfl % 8 == 0 && h.syncd % 8 == 0 && h.syncd <= h.dfl)
            s.packets += (h.dfl / 8 - h.syncd / 8 + kTsPacketBytes - 1) / kTsPacketBytes;
    }
    const int wanted = requestedIsi.load(std::memory_order_relaxed);
    const int passed = passedIsi.load(std::memory_order_relaxed);
    framesElsewhere = int(h.isi) == passed ? 0 : framesElsewhere + 1;
    // Chosen by none: the first stream seen, and again once the one passed
    // has not come for kStreamGoneFrames frames (another signal tuned).
    const bool gone = passed < 0 || framesElsewhere > kStreamGoneFrames;
    const int next = wanted >= 0 ? wanted : gone ? int(h.isi) : passed;
    if (next != passed) {
        framesElsewhere = 0;
        // The packet in progress was the other stream's.
        if (passed >= 0)
            lost();
        passedIsi.store(next, std::memory_order_relaxed);
        if (hooks.inputStream)
            hooks.inputStream(next);
    }
    return h.isi == next;
}

void BbFrameProcessor::processBBFrame(uint8_t* frame, size_t length, int32_t r, bool afterGap)
{
    if (frame == nullptr || length < 10) {
        lost();
        return;
    }
    const BbHeaderFields h = parseBbHeader(frame);
    if (r >= 0 && hooks.rollOff)
        hooks.rollOff(kRollOff[h.rollOffCode()]);
    std::lock_guard<std::mutex> lock(frameMutex);
    if (hooks.header)
        hooks.header(h, r);
    // The packet in progress is completed only by the very next frame's
    // first bytes, and only when those are right. (Of multiple streams, by
    // the next frame of its own stream: the others' frames are passed over,
    // even failed ones whose header is intact.)
    if (afterGap)
        lost();
    const bool headerTrusted = r >= 0 || bbHeaderIntact(frame);
    if (headerTrusted && (h.matype1 & 0x20) == 0 && !passesStream(h))
        return;
    if (r < 0)
        lost();
    if (!headerTrusted)
        return;
    if (h.tsgs() == 3) {
        extractTransportStream(frame, length, h, r < 0);
    } else if (h.tsgs() == 1 && r >= 0 && h.dfl <= 58112 && 10 + size_t(h.dfl) / 8 <= length) {
        if (hooks.gse)
            hooks.gse(frame + 10, h.dfl);
    }
}

void BbFrameProcessor::extractTransportStream(uint8_t* frame, size_t length, const BbHeaderFields& h, bool damaged)
{
    // A transport-stream frame that gives no packets leaves a hole in the
    // stream; so does one whose first packet would start beyond its data
    // field (its bytes cannot be placed).
    if (h.sync != kTsSyncByte || h.upl != 1504 || h.dfl == 0 || h.dfl % 8 != 0 || h.syncd % 8 != 0 ||
        10 + size_t(h.dfl) / 8 > length || h.syncd > h.dfl || !hooks.transportStream) {
        lost();
        return;
    }
    const size_t n = h.dfl / 8;
    const size_t s = h.syncd / 8;
    const uint8_t* p = frame + 10;
    // The rest of the packet begun in the previous frame: taken only when it
    // completes that packet exactly, anything else means bytes were lost.
    if (heldLength > 0 && heldLength < held.size() && heldLength + s == held.size()) {
        std::memcpy(held.data() + heldLength, p, s);
        heldLength = held.size();
        heldDamaged = heldDamaged || damaged;
    } else if (s > 0 || (heldLength > 0 && heldLength < held.size())) {
        lost();
    }
    // Packets of a frame that failed decoding keep their place in the
    // stream, marked with the transport error indicator.
    for (size_t at = s; at < n;) {
        packetBegins(p[at]);
        const size_t take = std::min(held.size(), n - at);
        std::memcpy(held.data(), p + at, take);
        heldLength = take;
        heldDamaged = damaged;
        at += take;
    }
}
