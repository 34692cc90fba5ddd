#include "devices/DeviceSettings.h"

#include "core/Log.h"
#include "core/SettingsFile.h"
#include "devices/InputDevice.h"
#include "devices/RxControls.h"

#include <QSettings>
#include <limits>

namespace {

bool hasGroup(QSettings& settings, const QString& group)
{
    return settings.childGroups().contains(group);
}

// The key's value as an integer of type T, or false when absent or unfit.
template <typename T>
bool readInteger(const QSettings& settings, const QString& key, T& value)
{
    if (!settings.contains(key))
        return false;
    bool ok = false;
    const QString text = settings.value(key).toString().trimmed();
    if constexpr (std::is_signed_v<T>) {
        const qlonglong v = text.toLongLong(&ok);
        if (!ok || v < std::numeric_limits<T>::min() || v > std::numeric_limits<T>::max())
            return false;
        value = T(v);
    } else {
        const qulonglong v = text.toULongLong(&ok);
        if (!ok || text.startsWith('-') || v > std::numeric_limits<T>::max())
            return false;
        value = T(v);
    }
    return true;
}

void applyRxPath(LimeSDRRxControl& lime, const QString& path)
{
    static const char* const kPaths[] = {"LMS_PATH_NONE", "LMS_PATH_LNAH", "LMS_PATH_LNAL", "LMS_PATH_LNAW"};
    for (int i = 0; i < 4; ++i) {
        if (path == QLatin1String(kPaths[i])) {
            lime.setRXPath(i);
            return;
        }
    }
    LogLine() << "invalid config option for tx_path!\n"
                 "available options are: LMS_PATH_NONE, LMS_PATH_LNAH, LMS_PATH_LNAL, LMS_PATH_LNAW";
}

} // namespace

QString deviceSettingsSection(const InputDevice& device)
{
    return QString("%1_%2").arg(QString::fromStdString(device.getTypeName())).arg(device.getDeviceHash());
}

void loadDeviceSettings(InputDevice& device, const QString& path)
{
    // The settings class would read a pipe or a device until it ends.
    const std::string problem = settingsFileProblem(path.toStdString());
    if (!problem.empty()) {
        LogLine() << path.toStdString() << " " << problem << "; the device keeps its own settings";
        return;
    }
    QSettings settings(path, QSettings::IniFormat);
    LogLine() << "Trying to load device config for dev '" << device.getDeviceName() << "' with hash "
              << device.getDeviceHash();
    QString section = deviceSettingsSection(device);
    LogLine() << "Section: " << section.toStdString();
    if (!hasGroup(settings, section)) {
        section = QString::fromStdString(device.getTypeName());
        LogLine() << "Section not found, using " << section.toStdString();
    }

    settings.beginGroup(section);
    int channel = 0;
    if (auto* lime = dynamic_cast<LimeSDRRxControl*>(&device)) {
        applyRxPath(*lime, settings.value("rx_path", "LMS_PATH_LNAW").toString());
        if (!readInteger(settings, "rx_channel", channel))
            channel = 0;
        lime->setRXChannel(channel);
    } else if (auto* sdrplay = dynamic_cast<SDRPlayRxControl*>(&device)) {
        if (!readInteger(settings, "rx_channel", channel))
            channel = 0;
        sdrplay->setRXChannel(channel);
    }

    int gain = 0;
    if (readInteger(settings, "bbgain", gain))
        device.setGain(gain);
    uint64_t frequency = 0;
    if (readInteger(settings, "frequency", frequency))
        device.setFrequency(frequency);
    uint64_t filter = 0;
    if (readInteger(settings, "bbfilt", filter))
        device.setFilterBandwidth(filter);
    uint64_t rate = 0;
    if (readInteger(settings, "bandwidth", rate))
        device.setSampleRate(rate);
    settings.endGroup();
}

bool saveDeviceSettings(InputDevice* device, const QString& path)
{
    if (device == nullptr)
        return true;
    const std::string problem = settingsFileProblem(path.toStdString());
    if (!problem.empty()) {
        LogLine() << path.toStdString() << " " << problem << "; the device settings are not saved";
        return false;
    }
    QSettings settings(path, QSettings::IniFormat);
    LogLine() << "Trying to save device config for dev '" << device->getDeviceName() << "' with hash "
              << device->getDeviceHash();
    const QString section = deviceSettingsSection(*device);
    LogLine() << "Section: " << section.toStdString();
    if (!hasGroup(settings, section))
        LogLine() << "Section not found, creating...";

    settings.beginGroup(section);
    settings.setValue("devname", QString::fromStdString(device->getDeviceName()));
    settings.setValue("bandwidth", quint64(device->getSampleRate()));
    settings.setValue("frequency", quint64(device->getFrequency()));
    settings.setValue("bbgain", device->getGain());
    settings.setValue("bbfilt", quint64(device->getFilterBandwidth()));
    settings.endGroup();
    settings.sync();
    if (settings.status() != QSettings::NoError) {
        LogLine() << path.toStdString() << " could not be written; the device settings are not saved";
        return false;
    }
    return true;
}
