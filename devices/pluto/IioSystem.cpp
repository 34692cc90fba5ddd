// The table of IioLibrary filled with libiio's own functions; the compiler
// checks each against the library's header.
#include "devices/pluto/IioLibrary.h"

#include <iio.h>

const IioLibrary& systemIioLibrary()
{
    static const IioLibrary library{
        iio_create_scan_context,
        iio_scan_context_destroy,
        iio_scan_context_get_info_list,
        iio_context_info_list_free,
        iio_context_info_get_description,
        iio_context_info_get_uri,
        iio_create_context_from_uri,
        iio_create_network_context,
        iio_context_destroy,
        iio_context_get_description,
        iio_context_find_device,
        iio_device_find_channel,
        iio_channel_attr_write_longlong,
        iio_channel_enable,
        iio_device_create_buffer,
        iio_buffer_destroy,
        iio_buffer_refill,
        iio_buffer_start,
    };
    return library;
}
