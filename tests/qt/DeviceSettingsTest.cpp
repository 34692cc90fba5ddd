#include "FakeDevices.h"
#include "devices/DeviceSettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

class DeviceSettingsFile : public testing::Test {
protected:
    QString path() const { return dir.filePath("devices.ini"); }
    void write(const QByteArray& text)
    {
        QFile f(path());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    QTemporaryDir dir;
};

} // namespace

TEST(DeviceHash, FollowsTheMultiplyBy33Rule)
{
    EXPECT_EQ(deviceNameHash("a"), 3168u);
    EXPECT_EQ(deviceNameHash(""), 4294967295u);
    EXPECT_EQ(deviceNameHash("TCP Input Device"), 3493311334u);
    EXPECT_EQ(deviceNameHash("\xff\x80"), ((0xFFFFFFFFu + 0xFF) * 33u + 0x80) * 33u) << "bytes are unsigned";
    FakeDevice device("TCPInputDevice", "TCP Input Device");
    EXPECT_EQ(deviceSettingsSection(device), "TCPInputDevice_3493311334");
}

TEST(InputDeviceBase, SampleRateOnlyFromTheList)
{
    FakeDevice device;
    device.setSampleRateIndex(1);
    EXPECT_EQ(device.getSampleRate(), 2800000u);
    device.setSampleRateIndex(3);   // past the end
    EXPECT_EQ(device.getSampleRate(), 2800000u);
    device.setSampleRate(3200000);
    EXPECT_EQ(device.getSampleRate(), 3200000u);
    device.setSampleRate(3000000);  // not offered
    EXPECT_EQ(device.getSampleRate(), 3200000u);
}

TEST_F(DeviceSettingsFile, SaveThenLoadRoundTripsWithTheLogLines)
{
    FakeDevice saved;
    saved.setSampleRate(2800000);
    saved.setFrequency(5000000000ull);
    saved.setGain(37);
    saved.setFilterBandwidth(1750000);

    CaptureStdout();
    saveDeviceSettings(&saved, path());
    saveDeviceSettings(&saved, path());
    const std::string section = deviceSettingsSection(saved).toStdString();
    const std::string header = "Trying to save device config for dev 'fake | SERIAL: 0001' with hash " +
                               std::to_string(saved.getDeviceHash()) + "\nSection: " + section + "\n";
    EXPECT_EQ(GetCapturedStdout(), header + "Section not found, creating...\n" + header);

    FakeDevice loaded;
    CaptureStdout();
    loadDeviceSettings(loaded, path());
    EXPECT_EQ(GetCapturedStdout(), "Trying to load device config for dev 'fake | SERIAL: 0001' with hash " +
                                       std::to_string(saved.getDeviceHash()) + "\nSection: " + section + "\n");
    EXPECT_EQ(loaded.getSampleRate(), 2800000u);
    EXPECT_EQ(loaded.getFrequency(), 5000000000ull);
    EXPECT_EQ(loaded.getGain(), 37);
    EXPECT_EQ(loaded.getFilterBandwidth(), 1750000u);

    QSettings file(path(), QSettings::IniFormat);
    file.beginGroup(QString::fromStdString(section));
    EXPECT_EQ(file.childKeys(), QStringList({"bandwidth", "bbfilt", "bbgain", "devname", "frequency"}));
    EXPECT_EQ(file.value("devname").toString(), "fake | SERIAL: 0001");
}

TEST_F(DeviceSettingsFile, TypeGroupIsTheFallbackAndIsNeverWritten)
{
    write("[LimeSDRDevice]\nrx_path=LMS_PATH_LNAL\nrx_channel=1\nbbgain=42\n");
    FakeLimeSDR lime;
    CaptureStdout();
    loadDeviceSettings(lime, path());
    const std::string out = GetCapturedStdout();
    EXPECT_NE(out.find("Section not found, using LimeSDRDevice\n"), std::string::npos) << out;
    EXPECT_EQ(lime.calls, std::vector<std::string>({"path 2", "channel 1"}));
    EXPECT_EQ(lime.getGain(), 42);

    saveDeviceSettings(&lime, path());
    QSettings file(path(), QSettings::IniFormat);
    const QString own = deviceSettingsSection(lime);
    EXPECT_TRUE(file.childGroups().contains(own));
    file.beginGroup(own);
    EXPECT_EQ(file.childKeys(), QStringList({"bandwidth", "bbfilt", "bbgain", "devname", "frequency"}));
    file.endGroup();
    EXPECT_EQ(file.value("LimeSDRDevice/rx_path").toString(), "LMS_PATH_LNAL") << "fallback left alone";
}

TEST_F(DeviceSettingsFile, RxPathIsCaseSensitiveAndDefaultsToLnaw)
{
    write("[LimeSDRDevice]\nrx_path=lms_path_lnal\n");
    FakeLimeSDR rejected;
    CaptureStdout();
    loadDeviceSettings(rejected, path());
    const std::string out = GetCapturedStdout();
    EXPECT_NE(out.find("invalid config option for tx_path!\navailable options are: LMS_PATH_NONE, "
                       "LMS_PATH_LNAH, LMS_PATH_LNAL, LMS_PATH_LNAW\n"),
              std::string::npos);
    EXPECT_EQ(rejected.calls, std::vector<std::string>({"channel 0"}));

    write("[Other]\nx=1\n");
    FakeLimeSDR defaulted;
    loadDeviceSettings(defaulted, path());
    EXPECT_EQ(defaulted.calls, std::vector<std::string>({"path 3", "channel 0"}));

    write("[SDRPlayDevice]\nrx_channel=1\nrx_path=LMS_PATH_NONE\n");
    FakeSDRPlay sdrplay;
    loadDeviceSettings(sdrplay, path());
    EXPECT_EQ(sdrplay.calls, std::vector<std::string>({"channel 1"}));
}

TEST_F(DeviceSettingsFile, GarbageAndMissingValuesLeaveTheDeviceAlone)
{
    FakeDevice device;
    device.setSampleRate(2400000);
    device.setFrequency(1200000000);
    device.setGain(10);
    device.setFilterBandwidth(5000);
    const QString section = deviceSettingsSection(device);
    write("[" + section.toUtf8() + "]\nbbgain=abc\nfrequency=-5\nbbfilt=1e99\n"
          "bandwidth=99999999999999999999999\nrx_channel=[]\n");
    loadDeviceSettings(device, path());
    write("[" + section.toUtf8() + "]\nbbgain=4294967297\nbandwidth=3000000\nfrequency=\"1, 2\"\n");
    loadDeviceSettings(device, path());
    write("\x01\x02garbage\n[[[\n=\n");
    loadDeviceSettings(device, path());
    loadDeviceSettings(device, dir.filePath("missing.ini"));
    EXPECT_EQ(device.getSampleRate(), 2400000u);
    EXPECT_EQ(device.getFrequency(), 1200000000u);
    EXPECT_EQ(device.getGain(), 10);
    EXPECT_EQ(device.getFilterBandwidth(), 5000u);

    saveDeviceSettings(nullptr, path());   // no device: nothing happens
}

TEST_F(DeviceSettingsFile, DefaultsToDevicesIniInTheWorkingDirectory)
{
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    FakeDevice device;
    device.setGain(5);
    saveDeviceSettings(&device);
    QDir::setCurrent(previous);
    EXPECT_TRUE(QFile::exists(path()));
}

// A devices.ini that is a named pipe, a directory or too large is neither
// read (the settings class would wait for a writer, or read it whole) nor
// written; a file that cannot be written is reported, not passed as saved.
TEST_F(DeviceSettingsFile, UnusableFilesAreSaidAndNeverWaitedFor)
{
    FakeDevice device;
    device.setGain(7);
    ASSERT_EQ(mkfifo(path().toUtf8().constData(), 0600), 0);
    CaptureStdout();
    loadDeviceSettings(device, path());
    EXPECT_FALSE(saveDeviceSettings(&device, path()));
    const std::string log = GetCapturedStdout();
    const std::string where = path().toStdString();
    EXPECT_EQ(log, where + " is not a regular file; the device keeps its own settings\n" + where +
                       " is not a regular file; the device settings are not saved\n");
    EXPECT_EQ(device.getGain(), 7);
    QFileInfo pipe(path());
    EXPECT_FALSE(pipe.isFile()) << "the pipe is left as it is";
}

TEST_F(DeviceSettingsFile, FailedSavesAreReported)
{
    FakeDevice device;
    // Too large to be a settings file: left alone.
    write(QByteArray(2 << 20, '#'));
    CaptureStdout();
    loadDeviceSettings(device, path());
    EXPECT_FALSE(saveDeviceSettings(&device, path()));
    const std::string log = GetCapturedStdout();
    EXPECT_NE(log.find(path().toStdString() +
                       " is too large (2097152 bytes, at most 1048576); the device keeps its own settings"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("the device settings are not saved"), std::string::npos) << log;
    EXPECT_EQ(QFileInfo(path()).size(), 2 << 20);

    // A place where no file can be made, whoever runs the test.
    CaptureStdout();
    EXPECT_FALSE(saveDeviceSettings(&device, "/proc/devices.ini"));
    EXPECT_NE(GetCapturedStdout().find("/proc/devices.ini could not be written; the device settings are not saved"),
              std::string::npos);
    EXPECT_TRUE(saveDeviceSettings(&device, dir.filePath("fine.ini")));
}
