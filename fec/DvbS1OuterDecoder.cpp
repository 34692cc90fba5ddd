#include "fec/DvbS1OuterDecoder.h"

#include <bitset>
#include <cstring>

namespace {

constexpr uint8_t kSync = 0x47;
constexpr uint8_t kInvertedSync = 0xB8;
constexpr uint16_t kPacketBits = DvbS1OuterDecoder::kPacketBytes * 8;   // 1632
constexpr uint16_t kScramblerInit = 0x4A80;                             // 100101010000000

} // namespace

DvbS1OuterDecoder::DvbS1OuterDecoder(PacketSink sink)
    : sink(std::move(sink))
{
}

void DvbS1OuterDecoder::processBytes(const uint8_t* bytes, size_t count)
{
    for (size_t k = 0; k < count; ++k) {
        const unsigned byte = bytes[k];
        for (int b = 7; b >= 0; --b)
            processBit((byte >> b) & 1);
    }
}

void DvbS1OuterDecoder::processBit(unsigned bit)
{
    bitRegister = uint8_t((bitRegister << 1) | bit);
    ++bitCounter;
    const int current = state;
    if (current == Hunting) {
        bitCounter = 0;
        if (bitRegister == kSync || bitRegister == kInvertedSync) {
            state = Confirming;
            confidence = 1;
        }
        return;
    }
    if (bitCounter == kPacketBits) {
        bitCounter = 0;
        atBoundary();
    }
    if (state == Locked && bitCounter % 8 == 0)
        deinterleave(bitRegister);
}

void DvbS1OuterDecoder::atBoundary()
{
    const bool syncByte = bitRegister == kSync || bitRegister == kInvertedSync;
    switch (state) {
    case Confirming:
        if (!syncByte) {
            state = Hunting;
            return;
        }
        if (++confidence >= 8) {
            state = Waiting;
            if (events.syncLocking)
                events.syncLocking();
        }
        return;
    case Waiting:
        if (bitRegister != kInvertedSync)
            return;
        packetIndex = 0;
        confidence = 32;
        state = Locked;
        lockedRun = 0;
        branch = 0;
        writePosition = 0;
        return;
    case Locked: {
        packetIndex = (packetIndex + 1) % 8;
        const uint8_t expected = packetIndex == 0 ? kInvertedSync : kSync;
        const uint16_t c = confidence;
        if (bitRegister == expected) {
            if (c <= 31)
                confidence = uint16_t(c + 1);
            ++lockedRun;
        } else if (c > 7) {
            confidence = uint16_t(c - 8);
            ++lockedRun;
        } else {
            state = Hunting;
            lockedRun = 0;
        }
        finishPacket();
        return;
    }
    default:
        return;
    }
}

void DvbS1OuterDecoder::deinterleave(uint8_t byte)
{
    const int j = branch;
    branch = (j + 1) % kBranches;
    uint8_t out = byte;
    if (j < kBranches - 1) {
        // A delay line of (11 − j) × 17 bytes.
        const uint16_t length = uint16_t((kBranches - 1 - j) * kCellBytes);
        uint16_t& position = fifoPosition[size_t(j)];
        out = fifo[size_t(j)][position];
        fifo[size_t(j)][position] = byte;
        position = uint16_t((position + 1) % length);
    }
    if (writePosition < kPacketBytes)
        packet[size_t(writePosition++)] = out;
}

void DvbS1OuterDecoder::finishPacket()
{
    // A packet whose bytes did not all arrive (none can, as lock is only
    // taken on a boundary) still leaves as 204 bytes.
    uint8_t result[kPacketBytes];
    std::memcpy(result, packet.data(), sizeof result);
    writePosition = 0;

    bool failed = false;
    if (rsEnabled) {
        const ReedSolomonDecoder::Result r = rs.decode(result);
        if (!r.corrected) {
            failed = true;
            ++uncorrectable;
        } else if (r.byteErrors > 0) {
            size_t bits = 0;
            for (int k = 0; k < kTsBytes; ++k)
                bits += std::bitset<8>(uint8_t(result[k] ^ packet[size_t(k)])).count();
            if (bits != 0 && events.corrected)
                events.corrected(bits);
        }
    }
    // The interleaver delays by 11 packets: the packet finished as the index
    // becomes 4 was sent first in its group of eight.
    removeEnergyDispersal(result, packetIndex == 4);
    // Every packet leaves with its sync byte, damaged or not: a
    // demultiplexer finds packets by it. One that came wrong (a packet
    // Reed–Solomon could not check or correct) marks the packet damaged.
    if (result[0] != kSync) {
        failed = true;
        result[0] = kSync;
    }
    if (failed)
        result[1] |= 0x80;   // transport_error_indicator
    if (sink)
        sink(result, kTsBytes);
}

void DvbS1OuterDecoder::removeEnergyDispersal(uint8_t* bytes, bool groupStart)
{
    auto nextBit = [this]() {
        const unsigned out = (scrambler ^ (scrambler >> 1)) & 1;
        scrambler = uint16_t((scrambler >> 1) | (out << 14));
        return out;
    };
    if (groupStart) {
        scrambler = kScramblerInit;
        bytes[0] = uint8_t(~bytes[0]);
    } else {
        // The sequence runs through the sync byte without being applied.
        for (int b = 0; b < 8; ++b)
            nextBit();
    }
    for (int k = 1; k < kTsBytes; ++k) {
        unsigned mask = 0;
        for (int b = 0; b < 8; ++b)
            mask = (mask << 1) | nextBit();
        bytes[k] = uint8_t(bytes[k] ^ mask);
    }
}
