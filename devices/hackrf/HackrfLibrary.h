// The functions of libhackrf the HackRF device and its enumeration use, as a
// table: the real library's (when the build has it) or a test's stand-ins.
// Declared here with the library's own signatures, so the device builds
// without its headers. Two things of the library are not plain functions and
// are reached through the binding instead: the fields of its device list,
// and the transfer record its receive callback gets (the device sees only
// the received bytes).
#pragma once

#include <cstdint>

struct hackrf_device;        // the library's device handle
struct hackrf_device_list;   // the library's list of attached devices

struct HackrfLibrary {
    // Called on the library's thread for every received transfer with its
    // buffer and the number of bytes in it that hold samples; 0 goes on.
    using ReceiveCallback = int (*)(uint8_t* buffer, int validLength, void* context);
    // What start_rx hands the library; must stay alive until close().
    struct Receiver {
        ReceiveCallback callback;
        void* context;
    };

    int (*init)();
    int (*exit)();
    // Null when the attached devices cannot be listed.
    hackrf_device_list* (*device_list)();
    void (*device_list_free)(hackrf_device_list* list);
    // The list's entries: their number, USB board id and serial number text
    // (null when it could not be read).
    int (*device_list_count)(const hackrf_device_list* list);
    uint32_t (*device_list_board_id)(const hackrf_device_list* list, int index);
    const char* (*device_list_serial)(const hackrf_device_list* list, int index);
    int (*device_list_open)(hackrf_device_list* list, int index, hackrf_device** device);
    // Stops any streaming and releases the device.
    int (*close)(hackrf_device* device);
    int (*set_sample_rate)(hackrf_device* device, double hz);
    int (*set_baseband_filter_bandwidth)(hackrf_device* device, uint32_t hz);
    int (*set_lna_gain)(hackrf_device* device, uint32_t value);
    int (*set_vga_gain)(hackrf_device* device, uint32_t value);
    int (*set_freq)(hackrf_device* device, uint64_t hz);
    // Streams into receiver->callback from a thread of the library's own.
    int (*start_rx)(hackrf_device* device, Receiver* receiver);
    int (*stop_rx)(hackrf_device* device);
};

// The library this build was linked with; only built when it has libhackrf.
const HackrfLibrary& systemHackrfLibrary();
