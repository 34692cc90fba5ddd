#include "devices/SampleFormat.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <utility>
#include <vector>

namespace {

using Samples = std::vector<std::pair<int16_t, int16_t>>;

Samples deliver(const std::vector<uint8_t>& bytes, IqFormat format, size_t* used = nullptr)
{
    Samples out;
    const size_t n = deliverIqSamples(bytes.data(), bytes.size(), format,
                                      [&out](int16_t i, int16_t q) { out.emplace_back(i, q); });
    if (used)
        *used = n;
    return out;
}

std::vector<uint8_t> floats(std::initializer_list<float> values)
{
    std::vector<uint8_t> bytes(values.size() * 4);
    size_t k = 0;
    for (float v : values)
        std::memcpy(bytes.data() + 4 * k++, &v, 4);
    return bytes;
}

} // namespace

TEST(SampleFormat, EightBitIsSignedTimes256)
{
    EXPECT_EQ(deliver({0x80, 0x7F}, IqFormat::S8), Samples({{-32768, 32512}}));
    EXPECT_EQ(deliver({0x00, 0xFF, 0x01}, IqFormat::S8), Samples({{0, -256}})) << "odd byte left over";
    EXPECT_EQ(deliver({0x00, 0xFF, 0x80, 0x7F}, IqFormat::U8), Samples({{-32768, 32512}, {0, -256}}));
}

TEST(SampleFormat, SixteenBitIsLittleEndianUnchanged)
{
    EXPECT_EQ(deliver({0x00, 0x80, 0xFF, 0x7F}, IqFormat::S16), Samples({{-32768, 32767}}));
    size_t used = 0;
    EXPECT_EQ(deliver({0x34, 0x12, 0xCC, 0xED, 1, 2, 3}, IqFormat::S16, &used), Samples({{0x1234, -0x1234}}));
    EXPECT_EQ(used, 4u) << "a 7-byte read yields one sample";
}

TEST(SampleFormat, FloatIsScaledTruncatedAndLimited)
{
    EXPECT_EQ(deliver(floats({0.5f, -1.0f}), IqFormat::F32), Samples({{16384, -32768}}));
    EXPECT_EQ(deliver(floats({2.0f, -2.0f}), IqFormat::F32), Samples({{32767, -32768}}));
    // Toward zero: 1.9 / 32768 and -1.9 / 32768 both lose their fraction.
    EXPECT_EQ(deliver(floats({1.9f / 32768, -1.9f / 32768}), IqFormat::F32), Samples({{1, -1}}));
    EXPECT_EQ(deliver(floats({0.99999f, -0.99999f}), IqFormat::F32), Samples({{32767, -32767}}));
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(deliver(floats({inf, -inf, nan, -nan}), IqFormat::F32), Samples({{32767, -32768}, {0, 0}}));
}

TEST(SampleFormat, SampleSizes)
{
    EXPECT_EQ(iqSampleBytes(IqFormat::S8), 2u);
    EXPECT_EQ(iqSampleBytes(IqFormat::U8), 2u);
    EXPECT_EQ(iqSampleBytes(IqFormat::S16), 4u);
    EXPECT_EQ(iqSampleBytes(IqFormat::F32), 8u);
    EXPECT_TRUE(deliver({}, IqFormat::F32).empty());
}
