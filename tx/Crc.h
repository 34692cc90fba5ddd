// The CRCs of the DVB-S2 baseband (EN 302 307-1 §5.1.4, CRC-8) and of MPEG-2
// sections and GSE (ISO/IEC 13818-1 Annex A, TS 102 606 §5.2, CRC-32).
#pragma once

#include <cstddef>
#include <cstdint>

namespace tx {

// g(x) = x^8 + x^7 + x^6 + x^4 + x^2 + 1, register cleared, MSB first, no final XOR.
uint8_t crc8Dvbs2(const uint8_t* data, size_t size);

// g(x) = 0x04C11DB7, register set to all ones, MSB first, no final XOR.
uint32_t crc32Mpeg(const uint8_t* data, size_t size);

} // namespace tx
