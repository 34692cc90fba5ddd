// The vendor libraries the device enumeration works with: each a table of the
// functions its devices call (see the *Library.h headers), or null when the
// build has no such library. Tests hand in stand-ins.
#pragma once

struct RtlsdrLibrary;
struct HackrfLibrary;
struct AirspyLibrary;
struct LimeLibrary;
struct IioLibrary;

struct DeviceLibraries {
    const RtlsdrLibrary* rtlsdr = nullptr;
    const HackrfLibrary* hackrf = nullptr;
    const LimeLibrary* lime = nullptr;
    const AirspyLibrary* airspy = nullptr;
    const IioLibrary* iio = nullptr;

    // Those this build was made with.
    static DeviceLibraries system();
};
