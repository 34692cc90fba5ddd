// The functions of LimeSuite the LimeSDR device uses, as a table: the real
// library's (when the build has it) or a test's stand-ins. Declared with the
// library's own signatures, so the device builds without its headers; the
// library's structures, which cannot be forward-declared, have field-for-field
// copies here (LimeRange, LimeStream, LimeStreamMeta).
#pragma once

#include <cstddef>
#include <cstdint>

typedef void lms_device_t;          // the library's device handle
typedef char lms_info_str_t[256];   // one entry of the device list

// Direction argument of the channel functions: false selects RX.
constexpr bool kLimeRx = false;

struct LimeRange {
    double min = 0, max = 0, step = 0;
};

struct LimeStream {
    enum DataFormat : int { F32 = 0, I16 = 1, I12 = 2 };   // I12: 12-bit values in int16
    size_t handle = 0;   // set by SetupStream
    bool isTx = false;
    uint32_t channel = 0;
    uint32_t fifoSize = 0;   // samples
    float throughputVsLatency = 0;
    DataFormat dataFmt = F32;
    int linkFmt = 0;   // 0: the library's default for dataFmt
};

struct LimeStreamMeta {
    uint64_t timestamp = 0;
    bool waitForTimestamp = false;
    bool flushPartialPacket = false;
};

struct LimeLibrary {
    // Fills `list` (null: only counts); the number of devices or -1.
    int (*GetDeviceList)(lms_info_str_t* list);
    int (*Open)(lms_device_t** device, const lms_info_str_t info, void* args);
    int (*Close)(lms_device_t* device);
    int (*Init)(lms_device_t* device);
    int (*GetLPFBWRange)(lms_device_t* device, bool dirTx, LimeRange* range);
    int (*GetNumChannels)(lms_device_t* device, bool dirTx);
    int (*EnableChannel)(lms_device_t* device, bool dirTx, size_t channel, bool enabled);
    int (*SetAntenna)(lms_device_t* device, bool dirTx, size_t channel, size_t path);
    int (*SetLOFrequency)(lms_device_t* device, bool dirTx, size_t channel, double hz);
    int (*SetLPF)(lms_device_t* device, bool dirTx, size_t channel, bool enabled);
    int (*SetLPFBW)(lms_device_t* device, bool dirTx, size_t channel, double hz);
    int (*SetSampleRate)(lms_device_t* device, double rate, size_t oversample);
    // signal 0: no test signal.
    int (*SetTestSignal)(lms_device_t* device, bool dirTx, size_t channel, int signal, int16_t dcI, int16_t dcQ);
    int (*SetNormalizedGain)(lms_device_t* device, bool dirTx, size_t channel, double gain);
    int (*SetupStream)(lms_device_t* device, LimeStream* stream);
    int (*DestroyStream)(lms_device_t* device, LimeStream* stream);
    int (*StartStream)(LimeStream* stream);
    int (*StopStream)(LimeStream* stream);
    // Up to `count` samples into `samples`; the number received (0 after the
    // time-out) or -1.
    int (*RecvStream)(LimeStream* stream, void* samples, size_t count, LimeStreamMeta* meta, unsigned timeoutMs);
};

// The library this build was linked with; only built when it has LimeSuite.
const LimeLibrary& systemLimeLibrary();
