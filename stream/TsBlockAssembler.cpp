#include "stream/TsBlockAssembler.h"

#include <cstring>

void TsBlockAssembler::emitTransportStream(const uint8_t* bytes, size_t length, bool packetStart)
{
    if (packetStart && filled > 0 && block[0] != 0x47)
        filled = 0;
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
