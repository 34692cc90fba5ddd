// The table of SoapysdrLibrary filled with libSoapySDR's own functions. Each
// entry calls the library through its header, so the compiler checks every
// call; the handles and the key/value and range types are converted to their
// layout twins of the table.
#include "devices/soapysdr/SoapysdrLibrary.h"

#include <SoapySDR/Device.h>
#include <SoapySDR/Errors.h>
#include <SoapySDR/Types.h>

#include <cstddef>

static_assert(sizeof(SoapyKwargs) == sizeof(SoapySDRKwargs) && offsetof(SoapyKwargs, keys) ==
                  offsetof(SoapySDRKwargs, keys) && offsetof(SoapyKwargs, vals) == offsetof(SoapySDRKwargs, vals),
              "key/value list layout");
static_assert(sizeof(SoapyRange) == sizeof(SoapySDRRange) && offsetof(SoapyRange, maximum) ==
                  offsetof(SoapySDRRange, maximum) && offsetof(SoapyRange, step) == offsetof(SoapySDRRange, step),
              "range layout");
static_assert(kSoapyRx == SOAPY_SDR_RX && kSoapyTimeout == SOAPY_SDR_TIMEOUT && kSoapyOverflow == SOAPY_SDR_OVERFLOW,
              "constants");

namespace {

SoapySDRDevice* dev(SoapyDeviceHandle* d) { return reinterpret_cast<SoapySDRDevice*>(d); }
const SoapySDRDevice* dev(const SoapyDeviceHandle* d) { return reinterpret_cast<const SoapySDRDevice*>(d); }
SoapySDRStream* str(SoapyStreamHandle* s) { return reinterpret_cast<SoapySDRStream*>(s); }
const SoapySDRKwargs* kw(const SoapyKwargs* k) { return reinterpret_cast<const SoapySDRKwargs*>(k); }
SoapyRange* ranges(SoapySDRRange* r) { return reinterpret_cast<SoapyRange*>(r); }

} // namespace

const SoapysdrLibrary& systemSoapysdrLibrary()
{
    static const SoapysdrLibrary library{
        SoapySDRDevice_lastError,
        [](const SoapyKwargs* args, size_t* length) {
            return reinterpret_cast<SoapyKwargs*>(SoapySDRDevice_enumerate(kw(args), length));
        },
        [](SoapyKwargs* list, size_t length) {
            SoapySDRKwargsList_clear(reinterpret_cast<SoapySDRKwargs*>(list), length);
        },
        [](const SoapyKwargs* args) { return reinterpret_cast<SoapyDeviceHandle*>(SoapySDRDevice_make(kw(args))); },
        [](SoapyDeviceHandle* d) { return SoapySDRDevice_unmake(dev(d)); },
        [](const SoapyDeviceHandle* d, int direction, size_t channel, size_t* length) {
            return SoapySDRDevice_listSampleRates(dev(d), direction, channel, length);
        },
        [](const SoapyDeviceHandle* d, int direction, size_t channel) {
            const SoapySDRRange r = SoapySDRDevice_getGainRange(dev(d), direction, channel);
            return SoapyRange{r.minimum, r.maximum, r.step};
        },
        [](const SoapyDeviceHandle* d, int direction, size_t channel, size_t* length) {
            return ranges(SoapySDRDevice_getFrequencyRange(dev(d), direction, channel, length));
        },
        [](const SoapyDeviceHandle* d, int direction, size_t channel, size_t* length) {
            return ranges(SoapySDRDevice_getBandwidthRange(dev(d), direction, channel, length));
        },
        SoapySDR_free,
        [](SoapyDeviceHandle* d, int direction, size_t channel, double rate) {
            return SoapySDRDevice_setSampleRate(dev(d), direction, channel, rate);
        },
        [](SoapyDeviceHandle* d, int direction, size_t channel, double hz, const SoapyKwargs* args) {
            return SoapySDRDevice_setFrequency(dev(d), direction, channel, hz, kw(args));
        },
        [](SoapyDeviceHandle* d, int direction, size_t channel, bool automatic) {
            return SoapySDRDevice_setGainMode(dev(d), direction, channel, automatic);
        },
        [](SoapyDeviceHandle* d, int direction, size_t channel, double db) {
            return SoapySDRDevice_setGain(dev(d), direction, channel, db);
        },
        [](SoapyDeviceHandle* d, int direction, size_t channel, double hz) {
            return SoapySDRDevice_setBandwidth(dev(d), direction, channel, hz);
        },
        [](SoapyDeviceHandle* d, int direction, const char* format, const size_t* channels, size_t numChannels,
           const SoapyKwargs* args) {
            return reinterpret_cast<SoapyStreamHandle*>(
                SoapySDRDevice_setupStream(dev(d), direction, format, channels, numChannels, kw(args)));
        },
        [](const SoapyDeviceHandle* d, SoapyStreamHandle* s) { return SoapySDRDevice_getStreamMTU(dev(d), str(s)); },
        [](SoapyDeviceHandle* d, SoapyStreamHandle* s, int flags, long long timeNs, size_t numElems) {
            return SoapySDRDevice_activateStream(dev(d), str(s), flags, timeNs, numElems);
        },
        [](SoapyDeviceHandle* d, SoapyStreamHandle* s, void* const* buffers, size_t numElems, int* flags,
           long long* timeNs, long timeoutUs) {
            return SoapySDRDevice_readStream(dev(d), str(s), buffers, numElems, flags, timeNs, timeoutUs);
        },
        [](SoapyDeviceHandle* d, SoapyStreamHandle* s, int flags, long long timeNs) {
            return SoapySDRDevice_deactivateStream(dev(d), str(s), flags, timeNs);
        },
        [](SoapyDeviceHandle* d, SoapyStreamHandle* s) { return SoapySDRDevice_closeStream(dev(d), str(s)); },
        SoapySDR_errToStr,
    };
    return library;
}
