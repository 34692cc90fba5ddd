// The functions of librtlsdr the RTL-SDR device uses, as a table: the real
// library's (when the build has it) or a test's stand-ins. Declared here with
// the library's own signatures, so the device builds without its headers.
#pragma once

#include <cstdint>

struct rtlsdr_dev;   // the library's device handle

struct RtlsdrLibrary {
    using ReadCallback = void (*)(unsigned char* buffer, uint32_t length, void* context);

    uint32_t (*get_device_count)();
    const char* (*get_device_name)(uint32_t index);
    // 0 on success; each string up to 256 bytes.
    int (*get_device_usb_strings)(uint32_t index, char* manufacturer, char* product, char* serial);
    int (*open)(rtlsdr_dev** device, uint32_t index);
    int (*close)(rtlsdr_dev* device);
    int (*set_tuner_gain_mode)(rtlsdr_dev* device, int manual);
    int (*set_agc_mode)(rtlsdr_dev* device, int on);
    int (*set_testmode)(rtlsdr_dev* device, int on);
    int (*set_direct_sampling)(rtlsdr_dev* device, int on);
    int (*set_offset_tuning)(rtlsdr_dev* device, int on);
    int (*reset_buffer)(rtlsdr_dev* device);
    int (*set_center_freq)(rtlsdr_dev* device, uint32_t hz);
    int (*set_tuner_gain)(rtlsdr_dev* device, int tenthsDb);
    int (*set_sample_rate)(rtlsdr_dev* device, uint32_t hz);
    // Blocks, calling `callback` per buffer, until cancel_async().
    int (*read_async)(rtlsdr_dev* device, ReadCallback callback, void* context, uint32_t buffers, uint32_t length);
    int (*cancel_async)(rtlsdr_dev* device);
};

// The library this build was linked with; only built when it has librtlsdr.
const RtlsdrLibrary& systemRtlsdrLibrary();
