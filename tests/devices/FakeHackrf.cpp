#include "tests/devices/FakeHackrf.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <stdexcept>

FakeHackrf* FakeHackrf::current = nullptr;

namespace {

hackrf_device* const kHandle = reinterpret_cast<hackrf_device*>(0x4852);
constexpr int kInvalidParam = -2;

std::string arg(uint64_t value)
{
    return std::to_string(value);
}

} // namespace

FakeHackrf::FakeHackrf()
{
    if (current != nullptr)
        throw std::logic_error("one FakeHackrf at a time");
    current = this;
    table.init = [] { return current->record("init()"); };
    table.exit = [] { return current->record("exit()"); };
    table.device_list = []() -> hackrf_device_list* {
        current->record("device_list()");
        return current->listUnavailable ? nullptr : current->deviceList();
    };
    table.device_list_free = [](hackrf_device_list* list) {
        current->record(list == current->deviceList() ? "device_list_free()" : "device_list_free(foreign list)");
    };
    table.device_list_count = [](const hackrf_device_list* list) {
        return list == current->deviceList() ? int(current->boards.size()) : 0;
    };
    table.device_list_board_id = [](const hackrf_device_list* list, int index) {
        return current->board(list, index).usbBoardId;
    };
    table.device_list_serial = [](const hackrf_device_list* list, int index) -> const char* {
        const Board& b = current->board(list, index);
        return b.serialReadable ? b.serial.c_str() : nullptr;
    };
    table.device_list_open = [](hackrf_device_list* list, int index, hackrf_device** device) {
        int result = current->record("device_list_open(" + arg(uint64_t(index)) + ")");
        if (list != current->deviceList() || index < 0 || size_t(index) >= current->boards.size())
            result = kInvalidParam;
        *device = result == 0 ? kHandle : nullptr;
        return result;
    };
    table.close = [](hackrf_device*) {
        // The library ends its receive thread before it lets the device go.
        current->receiver.stop();
        return current->record("close()");
    };
    table.set_sample_rate = [](hackrf_device*, double hz) {
        return current->record("set_sample_rate(" + arg(uint64_t(hz)) + ")");
    };
    table.set_baseband_filter_bandwidth = [](hackrf_device*, uint32_t hz) {
        return current->record("set_baseband_filter_bandwidth(" + arg(hz) + ")");
    };
    table.set_lna_gain = [](hackrf_device*, uint32_t v) { return current->record("set_lna_gain(" + arg(v) + ")"); };
    table.set_vga_gain = [](hackrf_device*, uint32_t v) { return current->record("set_vga_gain(" + arg(v) + ")"); };
    table.set_freq = [](hackrf_device*, uint64_t hz) { return current->record("set_freq(" + arg(hz) + ")"); };
    table.start_rx = [](hackrf_device*, HackrfLibrary::Receiver* target) { return current->startRx(target); };
    table.stop_rx = [](hackrf_device*) {
        current->receiver.stop();
        return current->record("stop_rx()");
    };
}

FakeHackrf::~FakeHackrf()
{
    receiver.stop();
    current = nullptr;
}

const FakeHackrf::Board& FakeHackrf::board(const hackrf_device_list* list, int index) const
{
    if (list != deviceList() && list != nullptr)
        throw std::logic_error("not the fake's device list");
    return boards.at(size_t(index));
}

int FakeHackrf::record(const std::string& call)
{
    std::lock_guard<std::mutex> lock(mutex);
    recorded.push_back(call);
    return !failing.empty() && call.compare(0, failing.size() + 1, failing + "(") == 0 ? -1 : 0;
}

int FakeHackrf::startRx(HackrfLibrary::Receiver* target)
{
    if (record("start_rx()") != 0)
        return -1;
    behind = 0;
    receiver.start([this, target](const FakeStreamThread::StopRequested& stopRequested) {
        using Clock = std::chrono::steady_clock;
        const int spare = std::max(transferSpare, 0);
        const uint64_t total = loopedBytes > 0 ? loopedBytes : stream.size();
        const Clock::time_point start = Clock::now();
        std::vector<uint8_t> buffer;
        for (uint64_t sent = 0; sent < total && !stream.empty() && !stopRequested();) {
            const size_t valid = size_t(std::min<uint64_t>(total - sent, uint64_t(transferBytes)));
            buffer.assign(valid + size_t(spare), 0x5A);
            for (size_t k = 0; k < valid;) {
                const size_t from = size_t((sent + k) % stream.size());
                const size_t run = std::min(valid - k, stream.size() - from);
                std::copy_n(stream.begin() + long(from), run, buffer.begin() + long(k));
                k += run;
            }
            sent += valid;
            if (pacedSampleRate > 0) {
                // Two bytes per sample: the transfer is ready once its last
                // sample has been taken.
                const auto due = start + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(double(sent) / 2 / pacedSampleRate));
                const Clock::time_point now = Clock::now();
                if (due > now)
                    std::this_thread::sleep_until(due);
                else
                    behind = std::max(behind, std::chrono::duration<double>(now - due).count());
            }
            if (target->callback(buffer.data(), int(valid), target->context) != 0)
                return;   // the device asked for no more
        }
    });
    return 0;
}

std::vector<std::string> FakeHackrf::calls() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return recorded;
}
