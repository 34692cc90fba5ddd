#include "devices/DeviceLibraries.h"

#include "devices/DeviceConfig.h"
#include "devices/rtlsdr/RtlsdrLibrary.h"
#include "devices/hackrf/HackrfLibrary.h"
#include "devices/airspy/AirspyLibrary.h"
#include "devices/lime/LimeLibrary.h"
#include "devices/pluto/IioLibrary.h"

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
#if TAVIREL_HAVE_LIMESUITE
    libraries.lime = &systemLimeLibrary();
#endif
#if TAVIREL_HAVE_IIO
    libraries.iio = &systemIioLibrary();
#endif
    return libraries;
}
