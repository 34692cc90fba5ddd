// The table of HackrfLibrary filled with libhackrf's own functions; the
// compiler checks each against the library's header.
#include "devices/hackrf/HackrfLibrary.h"

#include <hackrf.h>

namespace {

// The library's receive callback: hands the transfer's bytes to the
// receiver start_rx was given, which travels as the transfer's context.
int onTransfer(hackrf_transfer* transfer)
{
    const auto* receiver = static_cast<const HackrfLibrary::Receiver*>(transfer->rx_ctx);
    return receiver->callback(transfer->buffer, transfer->valid_length, receiver->context);
}

} // namespace

const HackrfLibrary& systemHackrfLibrary()
{
    static const HackrfLibrary library{
        hackrf_init,
        hackrf_exit,
        hackrf_device_list,
        hackrf_device_list_free,
        [](const hackrf_device_list_t* list) { return list->devicecount; },
        [](const hackrf_device_list_t* list, int index) { return uint32_t(list->usb_board_ids[index]); },
        [](const hackrf_device_list_t* list, int index) -> const char* { return list->serial_numbers[index]; },
        hackrf_device_list_open,
        hackrf_close,
        hackrf_set_sample_rate,
        hackrf_set_baseband_filter_bandwidth,
        hackrf_set_lna_gain,
        hackrf_set_vga_gain,
        hackrf_set_freq,
        [](hackrf_device* device, HackrfLibrary::Receiver* receiver) {
            return hackrf_start_rx(device, onTransfer, receiver);
        },
        hackrf_stop_rx,
    };
    return library;
}
