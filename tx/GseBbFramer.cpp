#include "tx/GseBbFramer.h"

#include "stream/Crc.h"

#include <algorithm>
#include <cstring>

namespace tx {

namespace {
constexpr int kMaxGseLength = 4095; // 12-bit GSE length

int labelBytes(int lt)
{
    return lt == 0 ? 6 : lt == 1 ? 3 : 0;
}
} // namespace

constexpr uint8_t GseBbFramer::kLabel[6];

GseBbFramer::GseBbFramer(const GseParams& params, RollOff rollOff)
    : params(params), rollOff(rollOff)
{
}

std::vector<uint8_t> GseBbFramer::makePdu(uint64_t counter, int size)
{
    std::vector<uint8_t> p(static_cast<size_t>(size));
    for (int i = 0; i < size; ++i)
        p[size_t(i)] = i < 8 ? uint8_t(counter >> (56 - 8 * i)) : uint8_t(counter + uint64_t(i));
    return p;
}

bool GseBbFramer::build(int kbch, bool ccm, uint8_t* frame)
{
    const int capacity = kbch / 8 - 10;
    uint8_t* field = frame + 10;
    int filled = 0;
    bool labelSent = false; // a label that LT = 11 may re-use in this frame
    for (;;) {
        const int space = std::min(capacity - filled, 2 + kMaxGseLength);
        uint8_t* p = field + filled;
        if (sent == 0) {
            // A new PDU: as one packet if it fits, else its first fragment.
            int lt = params.labelType;
            if (lt == 3 && !labelSent)
                lt = 0;
            const std::vector<uint8_t> data = makePdu(counter, params.pduSize);
            const int label = labelBytes(lt);
            const int whole = 2 + 2 + label + int(data.size());
            const int firstHeader = 2 + 1 + 2 + 2 + label;
            if (whole > space && firstHeader + 1 > space)
                break;
            pdu.clear();
            pdu.push_back(uint8_t(params.protocolType >> 8));
            pdu.push_back(uint8_t(params.protocolType));
            if (lt == 0 || lt == 1)
                pdu.insert(pdu.end(), kLabel + 6 - label, kLabel + 6);
            pdu.insert(pdu.end(), data.begin(), data.end());
            ++counter;
            labelSent = labelSent || lt == 0 || lt == 1;
            if (whole <= space) {
                const int length = whole - 2;
                p[0] = uint8_t(0xC0 | lt << 4 | length >> 8); // S = 1, E = 1
                p[1] = uint8_t(length);
                std::memcpy(p + 2, pdu.data(), pdu.size());
                filled += whole;
                pdu.clear();
                continue;
            }
            const int part = space - 5; // protocol type, label and some data
            const int length = space - 2;
            const int total = int(pdu.size());
            p[0] = uint8_t(0x80 | lt << 4 | length >> 8); // S = 1, E = 0
            p[1] = uint8_t(length);
            p[2] = fragmentId;
            p[3] = uint8_t(total >> 8);
            p[4] = uint8_t(total);
            std::memcpy(p + 5, pdu.data(), size_t(part));
            const uint8_t totalBytes[2] = {p[3], p[4]};
            std::vector<uint8_t> covered(totalBytes, totalBytes + 2);
            covered.insert(covered.end(), pdu.begin(), pdu.end());
            crc = crc32Mpeg(covered.data(), covered.size());
            sent = size_t(part);
            filled += space;
            continue;
        }
        // Continuation or end fragment of the PDU in progress.
        const int rest = int(pdu.size() - sent);
        if (2 + 1 + rest + 4 <= space) {
            const int length = 1 + rest + 4;
            p[0] = uint8_t(0x40 | 0x30 | length >> 8); // S = 0, E = 1, LT = 11
            p[1] = uint8_t(length);
            p[2] = fragmentId;
            std::memcpy(p + 3, pdu.data() + sent, size_t(rest));
            for (int b = 0; b < 4; ++b)
                p[3 + rest + b] = uint8_t(crc >> (24 - 8 * b));
            filled += 2 + length;
            pdu.clear();
            sent = 0;
            fragmentId = uint8_t(fragmentId + 1);
            continue;
        }
        if (space < 2 + 1 + 1 || rest <= 1)
            break;
        // The CRC travels whole in the end fragment, with at least one data byte.
        const int part = std::min(rest - 1, space - 3);
        const int length = 1 + part;
        p[0] = uint8_t(0x30 | length >> 8); // S = 0, E = 0, LT = 11
        p[1] = uint8_t(length);
        p[2] = fragmentId;
        std::memcpy(p + 3, pdu.data() + sent, size_t(part));
        sent += size_t(part);
        filled += 2 + length;
        if (filled >= capacity)
            break;
    }
    BbHeader h;
    h.matype1 = uint8_t(matype::kGenericContinuous | matype::kSingleStream | (ccm ? matype::kCcm : 0) | int(rollOff));
    h.upl = 0;
    h.dfl = uint16_t(filled * 8);
    h.sync = 0;
    h.syncd = 0;
    writeBbHeader(h, frame);
    padBbFrame(frame, kbch, h.dfl);
    return true;
}

} // namespace tx
