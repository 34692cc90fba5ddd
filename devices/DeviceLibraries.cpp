#include "devices/DeviceLibraries.h"

#include "devices/DeviceConfig.h"
#include "devices/rtlsdr/RtlsdrLibrary.h"
#include "devices/sdrplay/SdrplayLibrary.h"
#include "devices/soapysdr/SoapysdrLibrary.h"

DeviceLibraries DeviceLibraries::system()
{
    DeviceLibraries libraries;
#if TAVIREL_HAVE_RTLSDR
    libraries.rtlsdr = &systemRtlsdrLibrary();
#endif
#if TAVIREL_HAVE_SOAPYSDR
    libraries.soapysdr = &systemSoapysdrLibrary();
#endif
    libraries.sdrplay = systemSdrplayLibrary();
    return libraries;
}
