// Plain POSIX peers of the network output for the tests: a UDP receiver, a
// TCP client that reads everything, and one that never reads.
#pragma once

#include "tests/TestSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace nettest {

template <typename Pred>
bool waitUntil(Pred done, int timeoutMs = 10000)
{
    return testsupport::waitUntil(done, timeoutMs);
}

inline sockaddr_in loopback(uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
}

// Collects every datagram sent to 127.0.0.1:port on its own thread.
class UdpReceiver {
public:
    UdpReceiver()
    {
        fd = socket(AF_INET, SOCK_DGRAM, 0);
        int size = 8 << 20;
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        sockaddr_in a = loopback(0);
        bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
        thread = std::thread([this] { run(); });
    }
    ~UdpReceiver()
    {
        stop = true;
        thread.join();
        ::close(fd);
    }
    std::vector<std::vector<uint8_t>> datagrams()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return received;
    }
    size_t count()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return received.size();
    }

    uint16_t port = 0;

private:
    void run()
    {
        std::vector<uint8_t> buffer(70000);
        while (!stop) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0)
                continue;
            const ssize_t n = recv(fd, buffer.data(), buffer.size(), 0);
            if (n < 0)
                continue;
            std::lock_guard<std::mutex> lock(mutex);
            received.emplace_back(buffer.begin(), buffer.begin() + n);
        }
    }

    int fd = -1;
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::vector<std::vector<uint8_t>> received;
    std::thread thread;
};

// A TCP client of 127.0.0.1:port. Reading clients collect every byte on their
// own thread until the server closes or the client is destroyed; a stalled
// client, with a small receive buffer, never reads.
class TcpClient {
public:
    TcpClient(uint16_t port, bool reading)
    {
        fd = socket(AF_INET, SOCK_STREAM, 0);
        if (!reading) {
            int size = 4096;
            setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        }
        sockaddr_in a = loopback(port);
        connected = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        sockaddr_in local{};
        socklen_t len = sizeof local;
        getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len);
        localPort = ntohs(local.sin_port);
        if (reading && connected)
            thread = std::thread([this] { run(); });
    }
    ~TcpClient()
    {
        stop = true;
        if (thread.joinable())
            thread.join();
        if (fd >= 0)
            ::close(fd);
    }
    // Closes the connection from this side.
    void close()
    {
        stop = true;
        if (thread.joinable())
            thread.join();
        ::close(fd);
        fd = -1;
    }
    std::vector<uint8_t> bytes()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return received;
    }
    size_t size()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return received.size();
    }
    bool closedByServer() const { return serverClosed.load(); }
    // For a client that does not read: true once the server has reset or
    // closed the connection.
    bool peerGone()
    {
        pollfd p{fd, POLLRDHUP | POLLHUP | POLLERR, 0};
        return poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
    }

    bool connected = false;
    uint16_t localPort = 0;

private:
    void run()
    {
        std::vector<uint8_t> buffer(1 << 16);
        while (!stop) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0)
                continue;
            const ssize_t n = recv(fd, buffer.data(), buffer.size(), 0);
            if (n <= 0) {
                serverClosed = true;
                return;
            }
            std::lock_guard<std::mutex> lock(mutex);
            received.insert(received.end(), buffer.begin(), buffer.begin() + n);
        }
    }

    int fd = -1;
    std::atomic<bool> stop{false};
    std::atomic<bool> serverClosed{false};
    std::mutex mutex;
    std::vector<uint8_t> received;
    std::thread thread;
};

} // namespace nettest
