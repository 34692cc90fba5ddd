// Per-device settings in "devices.ini": one INI group per physical device.
#pragma once

#include <QString>

class InputDevice;

// The file in the working directory.
inline const char kDeviceSettingsFile[] = "devices.ini";

// "<type name>_<device hash>", e.g. "TCPInputDevice_3493311334".
QString deviceSettingsSection(const InputDevice& device);

// Applies the device's stored settings before it is opened. Without a group
// of its own, a group named by the type name alone is used. Keys that are
// missing, or whose values are not numbers of the right size, leave the
// device's values as they are; so does a file that is no regular file, or
// too large (logged; it is not read).
void loadDeviceSettings(InputDevice& device, const QString& path = kDeviceSettingsFile);

// Writes devname, bandwidth (the sample rate), frequency, bbgain and bbfilt to
// the device's own group. A null device writes nothing. False, logged, when
// the settings could not be saved (the file is no regular file, too large,
// or could not be written).
bool saveDeviceSettings(InputDevice* device, const QString& path = kDeviceSettingsFile);
