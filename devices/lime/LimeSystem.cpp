// The table of LimeLibrary filled with LimeSuite's own functions; the compiler
// checks each against the library's header. Where the library takes one of
// its structures, a small adapter copies ours into it and back.
#include "devices/lime/LimeLibrary.h"

#include <lime/LimeSuite.h>

namespace {

lms_stream_t toLibrary(const LimeStream& s)
{
    lms_stream_t out{};
    out.handle = s.handle;
    out.isTx = s.isTx;
    out.channel = s.channel;
    out.fifoSize = s.fifoSize;
    out.throughputVsLatency = s.throughputVsLatency;
    out.dataFmt = s.dataFmt == LimeStream::I12   ? lms_stream_t::LMS_FMT_I12
                  : s.dataFmt == LimeStream::I16 ? lms_stream_t::LMS_FMT_I16
                                                 : lms_stream_t::LMS_FMT_F32;
    out.linkFmt = s.linkFmt == 2   ? lms_stream_t::LMS_LINK_FMT_I12
                  : s.linkFmt == 1 ? lms_stream_t::LMS_LINK_FMT_I16
                                   : lms_stream_t::LMS_LINK_FMT_DEFAULT;
    return out;
}

int getLPFBWRange(lms_device_t* device, bool dirTx, LimeRange* range)
{
    lms_range_t r{};
    const int result = LMS_GetLPFBWRange(device, dirTx, &r);
    *range = LimeRange{r.min, r.max, r.step};
    return result;
}

int setTestSignal(lms_device_t* device, bool dirTx, size_t channel, int signal, int16_t dcI, int16_t dcQ)
{
    return LMS_SetTestSignal(device, dirTx, channel, lms_testsig_t(signal), dcI, dcQ);
}

int setupStream(lms_device_t* device, LimeStream* stream)
{
    lms_stream_t s = toLibrary(*stream);
    const int result = LMS_SetupStream(device, &s);
    stream->handle = s.handle;
    return result;
}

int destroyStream(lms_device_t* device, LimeStream* stream)
{
    lms_stream_t s = toLibrary(*stream);
    return LMS_DestroyStream(device, &s);
}

int startStream(LimeStream* stream)
{
    lms_stream_t s = toLibrary(*stream);
    return LMS_StartStream(&s);
}

int stopStream(LimeStream* stream)
{
    lms_stream_t s = toLibrary(*stream);
    return LMS_StopStream(&s);
}

int recvStream(LimeStream* stream, void* samples, size_t count, LimeStreamMeta* meta, unsigned timeoutMs)
{
    lms_stream_t s = toLibrary(*stream);
    lms_stream_meta_t m{};
    const int result = LMS_RecvStream(&s, samples, count, &m, timeoutMs);
    if (meta != nullptr)
        *meta = LimeStreamMeta{m.timestamp, m.waitForTimestamp, m.flushPartialPacket};
    return result;
}

} // namespace

const LimeLibrary& systemLimeLibrary()
{
    static const LimeLibrary library{
        LMS_GetDeviceList, LMS_Open,          LMS_Close,         LMS_Init,         getLPFBWRange,
        LMS_GetNumChannels, LMS_EnableChannel, LMS_SetAntenna,   LMS_SetLOFrequency, LMS_SetLPF,
        LMS_SetLPFBW,      LMS_SetSampleRate, setTestSignal,     LMS_SetNormalizedGain, setupStream,
        destroyStream,     startStream,       stopStream,        recvStream,
    };
    return library;
}
