// A TCP server on a free loopback port, for tests of the programs' TCP input.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

// True when a socket listens on the local TCP port (from /proc/net/tcp):
// probing by connecting would take a one-client server's only place.
inline bool tcpListening(int port)
{
    std::ifstream table("/proc/net/tcp");
    std::string line;
    char wanted[8];
    std::snprintf(wanted, sizeof wanted, ":%04X", port);
    while (std::getline(table, line)) {
        // "  sl  local_address rem_address   st ...": state 0A is LISTEN.
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        if (state == "0A" && local.size() > 5 && local.compare(local.size() - 5, 5, wanted) == 0)
            return true;
    }
    return false;
}

// A loopback port on which nothing listens.
inline int closedPort()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

// A loopback port that never answers: a listener whose queue (one place)
// is taken, so the kernel drops further connection requests and a client's
// connect runs into its time-out.
class UnansweredPort {
public:
    UnansweredPort()
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(listener, 0);
        socklen_t len = sizeof a;
        getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
        for (int& f : fillers) {
            f = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            ::connect(f, reinterpret_cast<sockaddr*>(&a), sizeof a);
        }
    }
    ~UnansweredPort()
    {
        for (int f : fillers)
            ::close(f);
        ::close(listener);
    }
    UnansweredPort(const UnansweredPort&) = delete;
    UnansweredPort& operator=(const UnansweredPort&) = delete;

    int port = 0;

private:
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    int fillers[3] = {-1, -1, -1};
};

// A server on a free loopback port that accepts one client, sends `bytes`
// as fast as the client takes them and hangs up; with `silentMs`, only
// after holding the connection open without a word that long, or until
// hangUp() (a feed that died without closing).
class SendOnceServer {
public:
    explicit SendOnceServer(std::vector<uint8_t> bytes, int silentMs = 0) : bytes(std::move(bytes))
    {
        listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        socklen_t len = sizeof addr;
        getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
        port = ntohs(addr.sin_port);
        listen(listener, 1);
        thread = std::thread([this, silentMs] {
            const int c = accept(listener, nullptr, nullptr);
            for (size_t at = 0; c >= 0 && at < this->bytes.size();) {
                const ssize_t n = send(c, this->bytes.data() + at, this->bytes.size() - at, MSG_NOSIGNAL);
                if (n <= 0)
                    break;
                at += size_t(n);
            }
            if (c >= 0 && silentMs > 0) {
                std::unique_lock<std::mutex> lock(mutex);
                wake.wait_for(lock, std::chrono::milliseconds(silentMs), [this] { return hungUp; });
            }
            close(c);
        });
    }
    ~SendOnceServer()
    {
        hangUp();
        shutdown(listener, SHUT_RDWR);   // a client that never came no longer holds accept()
        thread.join();
        close(listener);
    }
    // Ends the silence now.
    void hangUp()
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            hungUp = true;
        }
        wake.notify_all();
    }
    int port = 0;

private:
    std::vector<uint8_t> bytes;
    int listener = -1;
    std::mutex mutex;
    std::condition_variable wake;
    bool hungUp = false;
    std::thread thread;
};

} // namespace testsupport
