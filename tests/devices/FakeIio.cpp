#include "tests/devices/FakeIio.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <thread>

FakeIio* FakeIio::current = nullptr;

namespace {

constexpr size_t kBufferSamples = 131072;

char scanTag, phyTag, rxTag, bufferTag;

iio_device* phyDevice()
{
    return reinterpret_cast<iio_device*>(&phyTag);
}

iio_device* rxDevice()
{
    return reinterpret_cast<iio_device*>(&rxTag);
}

struct ChannelEntry {
    const iio_device* device;
    const char* text;   // "<device> <channel> in|out", as recorded
    const char* name;
    bool output;
};

const ChannelEntry* channels()
{
    static const ChannelEntry table[] = {
        {phyDevice(), "ad9361-phy altvoltage0 out", "altvoltage0", true},
        {phyDevice(), "ad9361-phy voltage0 in", "voltage0", false},
        {rxDevice(), "cf-ad9361-lpc voltage0 in", "voltage0", false},
        {rxDevice(), "cf-ad9361-lpc voltage1 in", "voltage1", false},
        {nullptr, nullptr, nullptr, false},
    };
    return table;
}

const char* channelText(const iio_channel* channel)
{
    return reinterpret_cast<const ChannelEntry*>(channel)->text;
}

} // namespace

FakeIio::FakeIio()
{
    if (current != nullptr)
        throw std::logic_error("one FakeIio at a time");
    current = this;
    table.create_scan_context = [](const char* backends, unsigned int flags) -> iio_scan_context* {
        current->record("create_scan_context(" + std::string(backends != nullptr ? backends : "null") + ", " +
                        std::to_string(flags) + ")");
        return current->fails("scan") ? nullptr : reinterpret_cast<iio_scan_context*>(&scanTag);
    };
    table.scan_context_destroy = [](iio_scan_context*) { current->record("scan_context_destroy()"); };
    table.scan_context_get_info_list = [](iio_scan_context*, iio_context_info*** list) -> ssize_t {
        current->record("scan_context_get_info_list()");
        auto* infos = new iio_context_info*[current->local.size() + 1]();
        for (size_t i = 0; i < current->local.size(); ++i)
            infos[i] = reinterpret_cast<iio_context_info*>(&current->local[i]);
        *list = infos;
        return ssize_t(current->local.size());
    };
    table.context_info_list_free = [](iio_context_info** list) {
        current->record("context_info_list_free()");
        delete[] list;
    };
    table.context_info_get_description = [](const iio_context_info* info) {
        return reinterpret_cast<const Context*>(info)->description.c_str();
    };
    table.context_info_get_uri = [](const iio_context_info* info) {
        return reinterpret_cast<const Context*>(info)->uri.c_str();
    };
    table.create_context_from_uri = [](const char* uri) {
        current->record("create_context_from_uri(" + std::string(uri) + ")");
        return current->openContext(uri, current->local);
    };
    table.create_network_context = [](const char* host) {
        current->record("create_network_context(" + std::string(host) + ")");
        return current->openContext("ip:" + std::string(host), current->network);
    };
    table.context_destroy = [](iio_context* context) {
        std::lock_guard<std::mutex> lock(current->mutex);
        auto* open = reinterpret_cast<OpenContext*>(context);
        current->recorded.push_back("context_destroy(" + open->uri + ")");
        current->contexts.remove_if([open](const OpenContext& c) { return &c == open; });
    };
    table.context_get_description = [](const iio_context* context) {
        return reinterpret_cast<const OpenContext*>(context)->description.c_str();
    };
    table.context_find_device = [](const iio_context*, const char* name) -> iio_device* {
        current->record("context_find_device(" + std::string(name) + ")");
        if (current->fails(name))
            return nullptr;
        const std::string n = name;
        return n == "ad9361-phy" ? phyDevice() : n == "cf-ad9361-lpc" ? rxDevice() : nullptr;
    };
    table.device_find_channel = [](const iio_device* device, const char* name, bool output) -> iio_channel* {
        for (const ChannelEntry* c = channels(); c->device != nullptr; ++c)
            if (c->device == device && std::string(c->name) == name && c->output == output)
                return reinterpret_cast<iio_channel*>(const_cast<ChannelEntry*>(c));
        return nullptr;
    };
    table.channel_attr_write_longlong = [](const iio_channel* channel, const char* attribute, long long value) {
        current->record("channel_attr_write_longlong(" + std::string(channelText(channel)) + ", " + attribute + ", " +
                        std::to_string(value) + ")");
        return 0;
    };
    table.channel_enable = [](iio_channel* channel) {
        current->record("channel_enable(" + std::string(channelText(channel)) + ")");
    };
    table.device_create_buffer = [](const iio_device* device, size_t samples, bool cyclic) -> iio_buffer* {
        current->record(std::string("device_create_buffer(") + (device == rxDevice() ? "cf-ad9361-lpc" : "?") + ", " +
                        std::to_string(samples) + ", " + (cyclic ? "cyclic" : "not cyclic") + ")");
        if (current->fails("create_buffer"))
            return nullptr;
        std::lock_guard<std::mutex> lock(current->mutex);
        ++current->liveBuffers;
        current->bufferData.assign(2 * samples, 0);
        return reinterpret_cast<iio_buffer*>(&bufferTag);
    };
    table.buffer_destroy = [](iio_buffer*) {
        std::lock_guard<std::mutex> lock(current->mutex);
        current->recorded.push_back("buffer_destroy()");
        --current->liveBuffers;
    };
    table.buffer_refill = [](iio_buffer*) { return current->refill(); };
    table.buffer_start = [](const iio_buffer*) -> void* { return current->bufferData.data(); };
}

FakeIio::~FakeIio()
{
    current = nullptr;
}

void FakeIio::record(const std::string& call)
{
    std::lock_guard<std::mutex> lock(mutex);
    recorded.push_back(call);
}

bool FakeIio::fails(const std::string& what) const
{
    return !failing.empty() && failing == what;
}

iio_context* FakeIio::openContext(const std::string& uri, const std::vector<Context>& known)
{
    if (fails(uri))
        return nullptr;
    for (const Context& c : known) {
        if (c.uri == uri) {
            std::lock_guard<std::mutex> lock(mutex);
            contexts.push_back({uri, c.description});
            return reinterpret_cast<iio_context*>(&contexts.back());
        }
    }
    return nullptr;
}

ssize_t FakeIio::refill()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        ++refillCount;
        refillingThreads.insert(long(syscall(SYS_gettid)));
        if (fails("refill"))
            return -EIO;   // at once, as for a radio that is gone
        const size_t available = stream.size() / 2 - handedOut;
        if (available > 0) {
            const size_t n = std::min(available, kBufferSamples);
            std::copy_n(stream.begin() + long(2 * handedOut), 2 * n, bufferData.begin());
            handedOut += n;
            return ssize_t(n * 2 * sizeof(int16_t));
        }
        // The device converts the last buffer while the next refill runs: only
        // from the second refill after the stream has everything been passed on.
        delivered = sawEmptyRefill;
        sawEmptyRefill = true;
    }
    // Nothing more comes: the library waits, then times out.
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return -ETIMEDOUT;
}

std::vector<std::string> FakeIio::calls() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return recorded;
}

size_t FakeIio::refills() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return refillCount;
}

size_t FakeIio::refillThreads() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return refillingThreads.size();
}

bool FakeIio::streamDelivered() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return delivered;
}

int FakeIio::buffersAlive() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return liveBuffers;
}

int FakeIio::contextsAlive() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return int(contexts.size());
}
