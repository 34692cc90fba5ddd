// Console log: plain lines, each written whole and flushed.
#pragma once

#include <ostream>
#include <sstream>
#include <string>

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

// Where log lines go. The window logs to standard output; a headless tool
// may send them to standard error (its payload on standard output), to a
// file, or nowhere. Error lines always go to standard error.
enum class LogTarget { StandardOutput, StandardError, Nowhere };
// Call before any thread logs.
void setLogTarget(LogTarget target);
// The log to a file, created or emptied; false (the target unchanged) when
// it cannot be opened.
bool setLogFile(const std::string& path);
// setLogTarget(StandardError) or (StandardOutput).
void setLogToStderr(bool toStderr);
// Error lines go where the log goes (to standard error when it goes to
// standard output) instead of always to standard error: for a tool whose
// own messages are the ones a person reads.
void setErrorLinesWithLog(bool withLog);

// Where the log's lines are written, for writers that cannot take its lock
// (the crash report). Without a log (Nowhere), standard error: a crash is
// always reported.
int logFileDescriptor();
