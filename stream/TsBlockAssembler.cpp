#include "stream/TsBlockAssembler.h"

#include "stream/TsPacket.h"

#include <cstring>

void TsBlockAssembler::emitTransportStream(const uint8_t* bytes, size_t length, bool packetStart)
{
    if (packetStart) {
        if (filled > 0 && block[0] != kTsSyncByte)
            filled = 0;
        filled -= filled % kPacketSize;
        waitingForStart = false;
    } else if (waitingForStart) {
        return;
    }
    append(bytes, length);
}

void TsBlockAssembler::continuePacket(const uint8_t* bytes, size_t length)
{
    const size_t inProgress = filled % kPacketSize;
    if (length == 0)
        return;
    if (waitingForStart || inProgress == 0 || inProgress + length != kPacketSize) {
        resynchronise();
        return;
    }
    append(bytes, length);
}

void TsBlockAssembler::resynchronise()
{
    filled -= filled % kPacketSize;
    waitingForStart = true;
}

void TsBlockAssembler::append(const uint8_t* bytes, size_t length)
{
    while (length > 0) {
        const size_t room = kBlockSize - filled;
        if (length < room) {
            std::memcpy(block.data() + filled, bytes, length);
            filled += length;
            return;
        }
        std::memcpy(block.data() + filled, bytes, room);
        filled = 0;
        if (sink)
            sink(block.data(), kBlockSize);
        bytes += room;
        length -= room;
    }
}
