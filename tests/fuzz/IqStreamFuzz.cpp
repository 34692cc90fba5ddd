// libFuzzer target: IQ bytes cut into pieces of any size, as TCP reads and
// file reads deliver them, in every sample format: the samples, delivered one
// by one or in converted runs, must be those of the whole stream converted at
// once.
//
// Input: byte 0 = format (mod 4), bytes 1 … 8 = piece sizes (each mod 17,
// used in turn; 0 is an empty read, then one byte), then the stream.
#include "devices/SampleFormat.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <utility>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 9)
        return 0;
    const IqFormat format = IqFormat(data[0] % 4);
    const uint8_t* pieceSizes = data + 1;
    const uint8_t* bytes = data + 9;
    const size_t n = size - 9;

    std::vector<std::pair<int16_t, int16_t>> whole, pieces, runs;
    deliverIqSamples(bytes, n, format, [&](int16_t i, int16_t q) { whole.emplace_back(i, q); });
    IqByteStream stream(format), runStream(format);
    const auto collectRun = [&](const int16_t* iq, size_t count) {
        for (size_t k = 0; k < count; ++k)
            runs.emplace_back(iq[2 * k], iq[2 * k + 1]);
    };
    size_t delivered = 0, deliveredInRuns = 0;
    for (size_t at = 0, k = 0; at < n; ++k) {
        size_t piece = pieceSizes[k % 8] % 17;
        if (piece == 0) {   // an empty read changes nothing
            delivered += stream.push(bytes + at, 0, [&](int16_t i, int16_t q) { pieces.emplace_back(i, q); });
            deliveredInRuns += runStream.pushRuns(bytes + at, 0, collectRun);
            piece = 1;
        }
        piece = std::min(piece, n - at);
        delivered += stream.push(bytes + at, piece, [&](int16_t i, int16_t q) { pieces.emplace_back(i, q); });
        deliveredInRuns += runStream.pushRuns(bytes + at, piece, collectRun);
        at += piece;
    }
    if (pieces != whole || delivered != whole.size() || stream.pending() != n % iqSampleBytes(format) ||
        runs != whole || deliveredInRuns != whole.size() || runStream.pending() != stream.pending())
        std::abort();
    return 0;
}
