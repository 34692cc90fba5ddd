// libFuzzer target: transport-stream blocks whose packets all carry PID
// 0x0011, with arbitrary headers, adaptation fields and section lengths;
// section state kept across inputs.
//
// Input: byte 0 = options (bit 0: trace; bit 1: keep the input's PIDs),
// then the packets, cut into blocks of seven (the last one zero-padded).
#include "stream/SdtMonitor.h"
#include "tests/fuzz/FuzzTraces.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static SdtMonitor monitor([](const std::vector<std::string>& lines, const std::string& text) {
        volatile size_t sum = text.size();
        for (const std::string& line : lines)
            sum = sum + line.size();
    });
    if (size < 1)
        return 0;
    monitor.setTrace(formattedSdtTrace((data[0] & 1) != 0));
    const bool keepPids = (data[0] & 2) != 0;
    ++data;
    --size;
    constexpr size_t kBlock = 7 * 188;
    for (size_t offset = 0; offset < size; offset += kBlock) {
        std::vector<uint8_t> block(kBlock, 0);
        std::memcpy(block.data(), data + offset, std::min(kBlock, size - offset));
        if (!keepPids) {
            for (size_t p = 0; p < kBlock; p += 188) {
                block[p + 1] = uint8_t((block[p + 1] & 0xE0) | 0x00);
                block[p + 2] = 0x11;
            }
        }
        monitor.scanBlockForSDT(block.data());
    }
    return 0;
}
