// The functions of libSoapySDR's C interface the SoapySDR device uses, as a
// table: the real library's (when the build has it) or a test's stand-ins.
// Declared here so that the device builds without the library's headers:
// handles are opaque, and the key/value list and range are spelled with the
// library's layouts.
#pragma once

#include <cstddef>

struct SoapyDeviceHandle;   // the library's device
struct SoapyStreamHandle;   // the library's stream

struct SoapyKwargs {
    size_t size;
    char** keys;
    char** vals;
};

struct SoapyRange {
    double minimum;
    double maximum;
    double step;
};

// The library's constants the device uses.
constexpr int kSoapyRx = 1;
constexpr int kSoapyTimeout = -1;
constexpr int kSoapyOverflow = -4;
inline const char kSoapyFormatCS16[] = "CS16";

struct SoapysdrLibrary {
    // The text of the last failure of make/unmake or a call that failed.
    const char* (*lastError)();
    // Every radio the installed modules find; freed with kwargsListClear.
    SoapyKwargs* (*enumerate)(const SoapyKwargs* args, size_t* length);
    void (*kwargsListClear)(SoapyKwargs* list, size_t length);
    SoapyDeviceHandle* (*make)(const SoapyKwargs* args);
    int (*unmake)(SoapyDeviceHandle* device);
    // Arrays the library allocates are freed with free().
    double* (*listSampleRates)(const SoapyDeviceHandle* device, int direction, size_t channel, size_t* length);
    SoapyRange (*getGainRange)(const SoapyDeviceHandle* device, int direction, size_t channel);
    SoapyRange* (*getFrequencyRange)(const SoapyDeviceHandle* device, int direction, size_t channel, size_t* length);
    SoapyRange* (*getBandwidthRange)(const SoapyDeviceHandle* device, int direction, size_t channel, size_t* length);
    void (*free)(void* pointer);
    // 0 on success, else an error code.
    int (*setSampleRate)(SoapyDeviceHandle* device, int direction, size_t channel, double rate);
    int (*setFrequency)(SoapyDeviceHandle* device, int direction, size_t channel, double hz, const SoapyKwargs* args);
    int (*setGainMode)(SoapyDeviceHandle* device, int direction, size_t channel, bool automatic);
    int (*setGain)(SoapyDeviceHandle* device, int direction, size_t channel, double db);
    int (*setBandwidth)(SoapyDeviceHandle* device, int direction, size_t channel, double hz);
    SoapyStreamHandle* (*setupStream)(SoapyDeviceHandle* device, int direction, const char* format,
                                      const size_t* channels, size_t numChannels, const SoapyKwargs* args);
    size_t (*getStreamMTU)(const SoapyDeviceHandle* device, SoapyStreamHandle* stream);
    int (*activateStream)(SoapyDeviceHandle* device, SoapyStreamHandle* stream, int flags, long long timeNs,
                          size_t numElems);
    // The number of samples read, or an error code (kSoapyTimeout, ...).
    int (*readStream)(SoapyDeviceHandle* device, SoapyStreamHandle* stream, void* const* buffers, size_t numElems,
                      int* flags, long long* timeNs, long timeoutUs);
    int (*deactivateStream)(SoapyDeviceHandle* device, SoapyStreamHandle* stream, int flags, long long timeNs);
    int (*closeStream)(SoapyDeviceHandle* device, SoapyStreamHandle* stream);
    const char* (*errToStr)(int code);
};

// The library this build was linked with; only built when it has libSoapySDR.
const SoapysdrLibrary& systemSoapysdrLibrary();
