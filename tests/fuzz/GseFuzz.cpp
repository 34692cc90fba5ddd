// libFuzzer target: arbitrary GSE data fields, reassembly state kept across
// inputs (fragments spanning frames).
//
// Input: byte 0 = options (bit 0: trace), bytes 1-2 = DFL in bits (big-endian,
// limited to the bytes that follow), then the data field.
#include "stream/GseParser.h"
#include "tests/fuzz/FuzzTraces.h"

#include <algorithm>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static GseParser parser([](const uint8_t* pdu, size_t length) {
        volatile uint8_t sum = 0;
        for (size_t i = 0; i < length; ++i)
            sum = uint8_t(sum + pdu[i]);
    });
    if (size < 3)
        return 0;
    parser.setTrace(formattedGseTrace((data[0] & 1) != 0));
    const size_t available = std::min<size_t>(size - 3, 65535 / 8);
    const uint16_t dfl = uint16_t(std::min<size_t>(size_t(data[1] << 8 | data[2]), available * 8));
    std::vector<uint8_t> field(data + 3, data + 3 + available);
    parser.parseGSE(field.data(), dfl);
    return 0;
}
