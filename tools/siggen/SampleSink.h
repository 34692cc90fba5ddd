// Where tavirel-siggen's samples go: a file, standard output, or the client of
// a TCP server (the receiver's TCP input connects to it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>


class SampleSink {
public:
    virtual ~SampleSink() = default;
    // Writes all bytes; false when the output is gone for good (message in error()).
    virtual bool write(const uint8_t* data, size_t size) = 0;
    const std::string& error() const { return problem; }

protected:
    std::string problem;
};

// A file, or standard output for "-".
class FileSink : public SampleSink {
public:
    explicit FileSink(const std::string& path);
    ~FileSink() override;
    bool ok() const { return fd >= 0; }
    bool write(const uint8_t* data, size_t size) override;

private:
    int fd = -1;
    bool own = false;
};

// Listens on HOST:PORT and streams to one client at a time; when a client
// leaves, the next write waits for another one.
class TcpServerSink : public SampleSink {
public:
    explicit TcpServerSink(const std::string& hostPort);
    ~TcpServerSink() override;
    bool ok() const { return listener >= 0; }
    bool write(const uint8_t* data, size_t size) override;

    // Splits "HOST:PORT"; false with a message when malformed.
    static bool parse(const std::string& hostPort, std::string& host, int& port, std::string& message);

private:
    bool acceptClient();

    int listener = -1;
    int client = -1;
    std::string where;
};
