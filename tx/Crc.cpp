#include "tx/Crc.h"

#include <array>

namespace tx {

namespace {

constexpr std::array<uint8_t, 256> makeCrc8Table()
{
    std::array<uint8_t, 256> t{};
    for (int i = 0; i < 256; ++i) {
        uint8_t r = uint8_t(i);
        for (int b = 0; b < 8; ++b)
            r = uint8_t((r & 0x80) ? (r << 1) ^ 0xD5 : (r << 1));
        t[i] = r;
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

constexpr auto kCrc8 = makeCrc8Table();
constexpr auto kCrc32 = makeCrc32Table();

} // namespace

uint8_t crc8Dvbs2(const uint8_t* data, size_t size)
{
    uint8_t r = 0;
    for (size_t i = 0; i < size; ++i)
        r = kCrc8[r ^ data[i]];
    return r;
}

uint32_t crc32Mpeg(const uint8_t* data, size_t size)
{
    uint32_t r = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i)
        r = (r << 8) ^ kCrc32[(r >> 24) ^ data[i]];
    return r;
}

} // namespace tx
