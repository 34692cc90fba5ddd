// libFuzzer target: arbitrary BBFRAMEs through the whole DVB-S2 stream layer
// (BBHEADER, TS extraction, TS blocks, SDT scan, GSE), state kept across
// inputs as in a running receiver.
//
// Input: byte 0 = options (bit 7: the frame failed to decode, else bits 0-4
// are the decoder's result; bit 6: GSE trace; bit 5: SDT trace), then the
// frame bytes.
#include "stream/BbFrameProcessor.h"
#include "tests/fuzz/FuzzTraces.h"
#include "stream/GseParser.h"
#include "stream/SdtMonitor.h"
#include "stream/TsBlockAssembler.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

struct StreamLayer {
    SdtMonitor sdt{[](const std::vector<std::string>&, const std::string&) {}};
    TsBlockAssembler blocks{[this](const uint8_t* block, size_t) { sdt.scanBlockForSDT(block); }};
    GseParser gse{[](const uint8_t* pdu, size_t length) {
        // Touch every byte handed on, so that a bad pointer or length shows.
        volatile uint8_t sum = 0;
        for (size_t i = 0; i < length; ++i)
            sum = uint8_t(sum + pdu[i]);
    }};
    BbFrameProcessor frames{{[](float) {},
                             [](const BbHeaderFields& h, int32_t r) { volatile size_t n = bbHeaderLine(h, r).size(); (void)n; },
                             [this](const uint8_t* bytes, size_t length, bool start) {
                                 if (start)
                                     blocks.emitTransportStream(bytes, length, true);
                                 else
                                     blocks.continuePacket(bytes, length);
                             },
                             [this]() { blocks.resynchronise(); },
                             [this](const uint8_t* field, uint16_t dfl) { gse.parseGSE(field, dfl); },
                             [](int) {}}};
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static StreamLayer layer;
    if (size < 1)
        return 0;
    const uint8_t options = data[0];
    const int32_t result = (options & 0x80) ? -1 : int32_t(options & 31);
    layer.gse.setTrace(formattedGseTrace((options & 0x40) != 0));
    layer.sdt.setTrace(formattedSdtTrace((options & 0x20) != 0));
    // A frame of its exact size, so that any read past it is caught.
    std::vector<uint8_t> frame(data + 1, data + size);
    layer.frames.processBBFrame(frame.data(), frame.size(), result, (options & 0x10) != 0);
    return 0;
}
