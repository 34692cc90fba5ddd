// The table of RtlsdrLibrary filled with librtlsdr's own functions; the
// compiler checks each against the library's header.
#include "devices/rtlsdr/RtlsdrLibrary.h"

#include <rtl-sdr.h>

const RtlsdrLibrary& systemRtlsdrLibrary()
{
    static const RtlsdrLibrary library{
        rtlsdr_get_device_count, rtlsdr_get_device_name, rtlsdr_get_device_usb_strings,
        rtlsdr_open,             rtlsdr_close,           rtlsdr_set_tuner_gain_mode,
        rtlsdr_set_agc_mode,     rtlsdr_set_testmode,    rtlsdr_set_direct_sampling,
        rtlsdr_set_offset_tuning, rtlsdr_reset_buffer,   rtlsdr_set_center_freq,
        rtlsdr_set_tuner_gain,   rtlsdr_set_sample_rate, rtlsdr_read_async,
        rtlsdr_cancel_async,
    };
    return library;
}
