#include "SampleSink.h"

#include "core/Log.h"

#include <arpa/inet.h>
#include <cerrno>

#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>


namespace {

bool writeAll(int fd, const uint8_t* data, size_t size, bool socket = false)
{
    while (size > 0) {
        const ssize_t n = socket ? ::send(fd, data, size, MSG_NOSIGNAL) : ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= size_t(n);
    }
    return true;
}

} // namespace

FileSink::FileSink(const std::string& path)
{
    if (path == "-") {
        fd = STDOUT_FILENO;
        return;
    }
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    own = fd >= 0;
    if (fd < 0)
        problem = "cannot write '" + path + "': " + std::strerror(errno);
}

FileSink::~FileSink()
{
    if (own)
        ::close(fd);
}

bool FileSink::write(const uint8_t* data, size_t size)
{
    if (!writeAll(fd, data, size)) {
        problem = std::string("write failed: ") + std::strerror(errno);
        return false;
    }
    return true;
}

bool TcpServerSink::parse(const std::string& hostPort, std::string& host, int& port, std::string& message)
{
    const size_t colon = hostPort.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == hostPort.size()) {
        message = "--serve needs HOST:PORT, got '" + hostPort + "'";
        return false;
    }
    host = hostPort.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    const std::string p = hostPort.substr(colon + 1);
    char* end = nullptr;
    const long v = std::strtol(p.c_str(), &end, 10);
    if (*end != '\0' || v < 1 || v > 65535) {
        message = "port '" + p + "' is not a number from 1 to 65535";
        return false;
    }
    port = int(v);
    return true;
}

TcpServerSink::TcpServerSink(const std::string& hostPort)
    : where(hostPort)
{
    std::string host;
    int port = 0;
    if (!parse(hostPort, host, port, problem))
        return;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const int rc = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (rc != 0) {
        problem = "cannot resolve '" + host + "': " + ::gai_strerror(rc);
        return;
    }
    int lastError = 0;
    for (addrinfo* a = found; a; a = a->ai_next) {
        const int s = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (s < 0) {
            lastError = errno;
            continue;
        }
        const int yes = 1;
        ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        if (::bind(s, a->ai_addr, a->ai_addrlen) == 0 && ::listen(s, 1) == 0) {
            listener = s;
            break;
        }
        lastError = errno;
        ::close(s);
    }
    ::freeaddrinfo(found);
    if (listener < 0)
        problem = "cannot listen on " + hostPort + ": " + std::strerror(lastError);
}

TcpServerSink::~TcpServerSink()
{
    if (client >= 0)
        ::close(client);
    if (listener >= 0)
        ::close(listener);
}

bool TcpServerSink::acceptClient()
{
    LogLine() << "Waiting for a client on " << where << " ...";
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    for (;;) {
        length = sizeof peer;
        client = ::accept4(listener, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
        if (client >= 0)
            break;
        if (errno != EINTR && errno != ECONNABORTED) {
            problem = std::string("accept failed: ") + std::strerror(errno);
            return false;
        }
    }
    char name[NI_MAXHOST] = "?";
    char service[NI_MAXSERV] = "?";
    ::getnameinfo(reinterpret_cast<sockaddr*>(&peer), length, name, sizeof name, service, sizeof service,
                  NI_NUMERICHOST | NI_NUMERICSERV);
    LogLine() << "Client connected from " << name << ":" << service;
    return true;
}

bool TcpServerSink::write(const uint8_t* data, size_t size)
{
    for (;;) {
        if (client < 0 && !acceptClient())
            return false;
        if (writeAll(client, data, size, true))
            return true;
        LogLine() << "Client disconnected";
        ::close(client);
        client = -1;
    }
}
