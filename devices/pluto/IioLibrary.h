// The functions of libiio the PlutoSDR device uses, as a table: the real
// library's (when the build has it) or a test's stand-ins. Declared here with
// the library's own signatures, so the device builds without its headers.
#pragma once

#include <cstddef>
#include <sys/types.h>

// The library's opaque objects.
struct iio_context;
struct iio_device;
struct iio_channel;
struct iio_buffer;
struct iio_context_info;
struct iio_scan_context;

struct IioLibrary {
    // Discovery. `backends`: e.g. "local,usb".
    iio_scan_context* (*create_scan_context)(const char* backends, unsigned int flags);
    void (*scan_context_destroy)(iio_scan_context* scan);
    // The number of contexts found, or a negative error number.
    ssize_t (*scan_context_get_info_list)(iio_scan_context* scan, iio_context_info*** list);
    void (*context_info_list_free)(iio_context_info** list);
    const char* (*context_info_get_description)(const iio_context_info* info);
    const char* (*context_info_get_uri)(const iio_context_info* info);

    // Contexts: null on failure.
    iio_context* (*create_context_from_uri)(const char* uri);
    iio_context* (*create_network_context)(const char* host);
    void (*context_destroy)(iio_context* context);
    const char* (*context_get_description)(const iio_context* context);
    iio_device* (*context_find_device)(const iio_context* context, const char* name);

    // Channels and their attributes.
    iio_channel* (*device_find_channel)(const iio_device* device, const char* name, bool output);
    int (*channel_attr_write_longlong)(const iio_channel* channel, const char* attribute, long long value);
    void (*channel_enable)(iio_channel* channel);

    // Sample buffers: refill gives the bytes read or a negative error number.
    iio_buffer* (*device_create_buffer)(const iio_device* device, size_t samples, bool cyclic);
    void (*buffer_destroy)(iio_buffer* buffer);
    ssize_t (*buffer_refill)(iio_buffer* buffer);
    void* (*buffer_start)(const iio_buffer* buffer);
};

// The library this build was linked with; only built when it has libiio.
const IioLibrary& systemIioLibrary();
