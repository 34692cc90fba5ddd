// The table of AirspyLibrary filled with libairspy's own functions; the
// compiler checks each against the library's header.
#include "devices/airspy/AirspyLibrary.h"

#include <airspy.h>

static_assert(AirspyLibrary::kSampleInt16Iq == AIRSPY_SAMPLE_INT16_IQ, "the library's 16-bit IQ sample type");

namespace {

// The library's receive callback: hands the transfer's samples to the
// receiver start_rx was given, which travels as the transfer's context.
int onTransfer(airspy_transfer* transfer)
{
    const auto* receiver = static_cast<const AirspyLibrary::Receiver*>(transfer->ctx);
    return receiver->callback(transfer->samples, transfer->sample_count, receiver->context);
}

} // namespace

const AirspyLibrary& systemAirspyLibrary()
{
    static const AirspyLibrary library{
        [](AirspyLibrary::Version* version) {
            airspy_lib_version_t v{};
            airspy_lib_version(&v);
            *version = {v.major_version, v.minor_version, v.revision};
        },
        airspy_list_devices,
        airspy_open_sn,
        airspy_close,
        airspy_version_string_read,
        airspy_get_samplerates,
        airspy_set_samplerate,
        [](airspy_device* device, int sampleType) {
            return airspy_set_sample_type(device, airspy_sample_type(sampleType));
        },
        airspy_set_lna_agc,
        airspy_set_mixer_agc,
        airspy_set_packing,
        airspy_set_freq,
        airspy_set_vga_gain,
        [](airspy_device* device, AirspyLibrary::Receiver* receiver) {
            return airspy_start_rx(device, onTransfer, receiver);
        },
        airspy_stop_rx,
    };
    return library;
}
