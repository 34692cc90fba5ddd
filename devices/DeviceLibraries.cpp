#include "devices/DeviceLibraries.h"

#include "devices/DeviceConfig.h"
#include "devices/rtlsdr/RtlsdrLibrary.h"
#include "devices/hackrf/HackrfLibrary.h"
#include "devices/airspy/AirspyLibrary.h"

DeviceLibraries DeviceLibraries::system()
{
    DeviceLibraries libraries;
#if TAVIREL_HAVE_RTLSDR
    libraries.rtlsdr = &systemRtlsdrLibrary();
#endif
#if TAVIREL_HAVE_HACKRF
    libraries.hackrf = &systemHackrfLibrary();
#endif
#if TAVIREL_HAVE_AIRSPY
    libraries.airspy = &systemAirspyLibrary();
#endif
    return libraries;
}
