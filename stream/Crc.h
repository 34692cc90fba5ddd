// The CRCs of the DVB-S2 baseband (EN 302 307-1 §5.1.4, CRC-8) and of MPEG-2
// sections and GSE (ISO/IEC 13818-1 Annex A, TS 102 606 §5.2, CRC-32), shared
// by the receiver and the test transmitter.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace crcdetail {

constexpr std::array<uint8_t, 256> makeCrc8Table()
{
    std::array<uint8_t, 256> t{};
    for (int i = 0; i < 256; ++i) {
        uint8_t r = uint8_t(i);
        for (int b = 0; b < 8; ++b)
            r = uint8_t((r & 0x80) ? (r << 1) ^ 0xD5 : (r << 1));
        t[size_t(i)] = r;
    }
    return t;
}

constexpr std::array<uint32_t, 256> makeCrc32Table()
{
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t r = i << 24;
        for (int b = 0; b < 8; ++b)
            r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : (r << 1);
        t[i] = r;
    }
    return t;
}

inline constexpr std::array<uint8_t, 256> kCrc8 = makeCrc8Table();
inline constexpr std::array<uint32_t, 256> kCrc32 = makeCrc32Table();

} // namespace crcdetail

// g(x) = x^8 + x^7 + x^6 + x^4 + x^2 + 1, register cleared, MSB first, no final XOR.
inline uint8_t crc8Dvbs2(const uint8_t* data, size_t size)
{
    uint8_t r = 0;
    for (size_t i = 0; i < size; ++i)
        r = crcdetail::kCrc8[r ^ data[i]];
    return r;
}

// g(x) = 0x04C11DB7, register set to all ones, MSB first, no final XOR.
// `register_` continues a CRC over data that comes in pieces.
inline uint32_t crc32Mpeg(const uint8_t* data, size_t size, uint32_t register_ = 0xFFFFFFFFu)
{
    uint32_t r = register_;
    for (size_t i = 0; i < size; ++i)
        r = (r << 8) ^ crcdetail::kCrc32[(r >> 24) ^ data[i]];
    return r;
}
