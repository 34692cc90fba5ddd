// libhackrf set up for the program's HackRF radios: the library initialised
// and its list of the attached devices, which they are opened by index into.
#pragma once

#include "devices/hackrf/HackrfLibrary.h"

class HackrfSession {
public:
    explicit HackrfSession(const HackrfLibrary& library);
    // Frees the list and shuts the library down: every HackRFDevice made
    // from the list must be gone (closed) before.
    ~HackrfSession();
    HackrfSession(const HackrfSession&) = delete;
    HackrfSession& operator=(const HackrfSession&) = delete;

    // Null when the library could not be set up or list its devices.
    hackrf_device_list* deviceList() const { return list; }
    int deviceCount() const;

private:
    const HackrfLibrary& lib;
    bool initialised = false;
    hackrf_device_list* list = nullptr;
};
