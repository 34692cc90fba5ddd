// libFuzzer target: "devices.ini" as anyone may have left it, loaded into a
// TCP input and into a radio with the LimeSDR's extra controls.
//
// Input: the file's bytes, written to a scratch file of this process.
#include "devices/DeviceSettings.h"
#include "devices/InputDevice.h"
#include "devices/RxControls.h"
#include "devices/TCPInputDevice.h"

#include <QCoreApplication>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

class FakeLime : public InputDevice, public LimeSDRRxControl {
public:
    FakeLime() { deviceName = "limesuite | LimeSDR Mini, serial=1D3AC3"; }
    std::string getTypeName() const override { return "LimeSDRDevice"; }
    bool open(SampleCallback&) override { return false; }
    void close() override {}
    std::vector<uint64_t> getSampleRates() override { return {2000000, 4000000}; }
    bool hasFilterBandwidth() override { return true; }
    int getMinGain() override { return 0; }
    int getMaxGain() override { return 70; }
    unsigned getMinFrequency() override { return 0; }
    unsigned getMaxFrequency() override { return 3800000; }
    void setRXChannel(int c) override { channel = c; }
    void setRXPath(int p) override { path = p; }
    volatile int channel = 0, path = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz_devices_ini";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    static const std::string file = "/tmp/fuzz_devices_" + std::to_string(getpid()) + ".ini";

    std::FILE* f = std::fopen(file.c_str(), "wb");
    if (f == nullptr)
        return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    TCPInputDevice tcp;
    loadDeviceSettings(tcp, QString::fromStdString(file));
    FakeLime lime;
    loadDeviceSettings(lime, QString::fromStdString(file));
    // Whatever was taken stays within what the devices offer or hold.
    volatile uint64_t keep = tcp.getSampleRate() + tcp.getFrequency() + lime.getSampleRate() + uint64_t(lime.getGain());
    (void)keep;
    return 0;
}
