#include "devices/DeviceLibraries.h"

#include "devices/DeviceConfig.h"
#include "devices/rtlsdr/RtlsdrLibrary.h"
#include "devices/hackrf/HackrfLibrary.h"
#include "devices/airspy/AirspyLibrary.h"
#include "devices/lime/LimeLibrary.h"
#include "devices/pluto/IioLibrary.h"
#include "devices/sdrplay/SdrplayLibrary.h"
#include "devices/soapysdr/SoapysdrLibrary.h"

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
#if TAVIREL_HAVE_SOAPYSDR
    libraries.soapysdr = &systemSoapysdrLibrary();
#endif
    libraries.sdrplay = systemSdrplayLibrary();
    return libraries;
}
