#include "devices/hackrf/HackrfSession.h"

HackrfSession::HackrfSession(const HackrfLibrary& library) : lib(library)
{
    initialised = lib.init() == 0;
    if (initialised)
        list = lib.device_list();
}

HackrfSession::~HackrfSession()
{
    if (list != nullptr)
        lib.device_list_free(list);
    if (initialised)
        lib.exit();
}

int HackrfSession::deviceCount() const
{
    return list != nullptr ? lib.device_list_count(list) : 0;
}
