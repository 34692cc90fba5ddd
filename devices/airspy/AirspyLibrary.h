// The functions of libairspy the Airspy device and its enumeration use, as a
// table: the real library's (when the build has it) or a test's stand-ins.
// Declared here with the library's own signatures, so the device builds
// without its headers; where the library passes records of its own (version,
// transfer) or takes its sample-type enumeration, the binding translates.
#pragma once

#include <cstdint>

struct airspy_device;   // the library's device handle

struct AirspyLibrary {
    struct Version {
        uint32_t major, minor, revision;
    };
    // Called on the library's thread for every transfer: `sampleCount`
    // samples of the chosen sample type at `samples`; 0 goes on.
    using ReceiveCallback = int (*)(void* samples, int sampleCount, void* context);
    // What start_rx hands the library; must stay alive until close().
    struct Receiver {
        ReceiveCallback callback;
        void* context;
    };
    // Sample type 2: interleaved 16-bit I, Q.
    static constexpr int kSampleInt16Iq = 2;

    void (*lib_version)(Version* version);
    // Fills up to `count` serial numbers; returns how many it found.
    int (*list_devices)(uint64_t* serials, int count);
    int (*open_sn)(airspy_device** device, uint64_t serial);
    // Stops any streaming and releases the device.
    int (*close)(airspy_device* device);
    int (*version_string_read)(airspy_device* device, char* version, uint8_t length);
    // With `count` 0 writes the number of rates to buffer[0]; otherwise
    // fills up to `count` rates.
    int (*get_samplerates)(airspy_device* device, uint32_t* buffer, uint32_t count);
    int (*set_samplerate)(airspy_device* device, uint32_t hz);
    int (*set_sample_type)(airspy_device* device, int sampleType);
    int (*set_lna_agc)(airspy_device* device, uint8_t on);
    int (*set_mixer_agc)(airspy_device* device, uint8_t on);
    int (*set_packing)(airspy_device* device, uint8_t on);
    int (*set_freq)(airspy_device* device, uint32_t hz);
    int (*set_vga_gain)(airspy_device* device, uint8_t value);
    // Streams into receiver->callback from a thread of the library's own.
    int (*start_rx)(airspy_device* device, Receiver* receiver);
    int (*stop_rx)(airspy_device* device);
};

// The library this build was linked with; only built when it has libairspy.
const AirspyLibrary& systemAirspyLibrary();
