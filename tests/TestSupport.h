// What tests of every kind need: waiting on a condition, reading a file,
// running one of the project's programs.
#pragma once

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

// Polls `done` until it holds or the time is up; returns its last answer.
template <typename Pred>
bool waitUntil(Pred done, int timeoutMs = 10000)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return done();
}

// `n` bytes from a Mersenne twister seeded with `seed`: the same for a seed.
inline std::vector<uint8_t> randomBytes(size_t n, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<uint8_t> bytes(n);
    for (uint8_t& b : bytes)
        b = uint8_t(rng());
    return bytes;
}

// The whole file (empty when it cannot be read).
inline std::vector<uint8_t> readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// A folder in the test scratch area that belongs to this process (CTest runs
// the tests of one binary side by side) and is removed when the process ends,
// so recordings written by tests do not pile up. A forked child that exits
// leaves it alone.
class ScratchFolder {
public:
    ScratchFolder()
        : owner_(getpid()), path_(testing::TempDir() + "tavirel-test-" + std::to_string(owner_))
    {
        std::filesystem::create_directories(path_);
    }
    ~ScratchFolder()
    {
        std::error_code ignored;
        if (getpid() == owner_)
            std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::string& path() const { return path_; }

private:
    pid_t owner_;
    std::string path_;
};

// A path in this process's scratch folder.
inline std::string tempPath(const std::string& name)
{
    static ScratchFolder folder;
    return folder.path() + "/" + name;
}

// A socket of `type` (SOCK_DGRAM, SOCK_STREAM) bound to a free port of
// 127.0.0.1, which goes to `port`; -1 when none could be had.
inline int loopbackSocket(int type, int& port)
{
    const int s = ::socket(AF_INET, type, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (s < 0 || ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (s >= 0)
            ::close(s);
        return -1;
    }
    port = ntohs(address.sin_port);
    return s;
}

// Collects the datagrams arriving on a socket, on a thread of its own so
// that none is lost to a full receive buffer while the sender runs.
class DatagramCollector {
public:
    explicit DatagramCollector(int socket)
        : s(socket)
    {
        timeval wait{0, 50000};
        ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        thread = std::thread([this] {
            std::vector<char> datagram(65536);
            for (;;) {
                const ssize_t n = ::recv(s, datagram.data(), datagram.size(), 0);
                if (n > 0)
                    received.emplace_back(datagram.data(), size_t(n));
                else if (stopping.load())
                    return;   // nothing more within the wait after the sender ended
            }
        });
    }
    ~DatagramCollector() { stop(); }
    DatagramCollector(const DatagramCollector&) = delete;
    DatagramCollector& operator=(const DatagramCollector&) = delete;

    // Once the sender has finished: every datagram that came, in order.
    const std::vector<std::string>& stop()
    {
        stopping.store(true);
        if (thread.joinable())
            thread.join();
        return received;
    }

private:
    int s;
    std::atomic<bool> stopping{false};
    std::vector<std::string> received;
    std::thread thread;
};

struct ToolRun {
    int exitCode = -1;
    std::string out;   // standard output
    std::string err;   // standard error
};

// Runs `program arguments` through the shell, output captured.
inline ToolRun runTool(const std::string& program, const std::string& arguments)
{
    const std::string outFile = tempPath("tool_stdout.txt"), errFile = tempPath("tool_stderr.txt");
    const int status = std::system((program + " " + arguments + " >" + outFile + " 2>" + errFile).c_str());
    ToolRun r;
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    const std::vector<uint8_t> o = readFile(outFile), e = readFile(errFile);
    r.out.assign(o.begin(), o.end());
    r.err.assign(e.begin(), e.end());
    return r;
}

// The longest run of whole packets of `out`, from its first, that appears in
// `sent` at a packet boundary. Null packets repeat, so every start is tried.
inline size_t packetsInOrder(const std::vector<uint8_t>& out, const std::vector<uint8_t>& sent)
{
    const size_t n = out.size() / 188, m = sent.size() / 188;
    size_t best = 0;
    for (size_t s = 0; s < m; ++s) {
        size_t k = 0;
        while (k < n && s + k < m && std::equal(out.begin() + long(188 * k), out.begin() + long(188 * (k + 1)),
                                                sent.begin() + long(188 * (s + k))))
            ++k;
        best = std::max(best, k);
    }
    return best;
}

// Frames that fail decoding while the receiver acquires come out marked with
// the transport error indicator; a player drops them.
inline void dropLeadingErrorPackets(std::vector<uint8_t>& ts)
{
    size_t k = 0;
    while (k + 188 <= ts.size() && (ts[k + 1] & 0x80) != 0)
        k += 188;
    ts.erase(ts.begin(), ts.begin() + long(k));
}

// DVB-S: the silence that pushes the last block through is decoded into
// packets marked with the transport error indicator; they are not the
// recording's.
inline void dropTrailingErrorPackets(std::vector<uint8_t>& ts)
{
    while (ts.size() >= 188 && (ts[ts.size() - 187] & 0x80) != 0)
        ts.resize(ts.size() - 188);
}

} // namespace testsupport
