// Console log: plain lines, each written whole and flushed.
#pragma once

#include <ostream>
#include <sstream>

// Collects one log line and writes it, with its newline, in a single piece when
// it goes out of scope, so lines from different threads never interleave.
//
//   LogLine() << "Worker thread started: " << name;
class LogLine {
public:
    LogLine() = default;
    LogLine(const LogLine&) = delete;
    LogLine& operator=(const LogLine&) = delete;
    ~LogLine();

    template <typename T>
    LogLine& operator<<(const T& value)
    {
        text << value;
        return *this;
    }

protected:
    // A line for the error stream (standard error) instead of the log.
    struct ToErrorStream {};
    explicit LogLine(ToErrorStream) : toErrorStream(true) {}

private:
    std::ostringstream text;
    bool toErrorStream = false;
};

// The same for the error stream.
class ErrorLine : public LogLine {
public:
    ErrorLine() : LogLine(ToErrorStream{}) {}
};

// Sends the log to standard error instead of standard output (for tools that
// write their payload to standard output). Call before any thread logs.
void setLogToStderr(bool toStderr);

// The stream log lines currently go to.
std::ostream& logStream();
// Its file descriptor, for writers that cannot take the stream's lock (the
// crash report).
int logFileDescriptor();
