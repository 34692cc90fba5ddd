#include "core/Log.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <iostream>
#include <mutex>
#include <unistd.h>

namespace {
std::mutex logMutex;
// Atomic: the crash report reads them from a signal handler.
std::atomic<LogTarget> logTarget{LogTarget::StandardOutput};
std::atomic<int> logFile{-1};   // when the log goes to a file
bool errorsWithLog = false;

void writeWhole(int fd, const std::string& line)
{
    size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(fd, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;   // a log that cannot be written is not worth stopping for
        done += size_t(n);
    }
}

void closeLogFile()
{
    const int fd = logFile.exchange(-1);
    if (fd >= 0)
        ::close(fd);
}
} // namespace

void setLogTarget(LogTarget target)
{
    std::lock_guard<std::mutex> lock(logMutex);
    closeLogFile();
    logTarget = target;
}

bool setLogFile(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    std::lock_guard<std::mutex> lock(logMutex);
    closeLogFile();
    logFile = fd;
    return true;
}

void setErrorLinesWithLog(bool withLog)
{
    std::lock_guard<std::mutex> lock(logMutex);
    errorsWithLog = withLog;
}

void setLogToStderr(bool toStderr)
{
    setLogTarget(toStderr ? LogTarget::StandardError : LogTarget::StandardOutput);
}

int logFileDescriptor()
{
    const int fd = logFile.load();
    if (fd >= 0)
        return fd;
    return logTarget.load() == LogTarget::StandardOutput ? STDOUT_FILENO : STDERR_FILENO;
}

LogLine::~LogLine()
{
    text << '\n';
    const std::string line = text.str();
    std::lock_guard<std::mutex> lock(logMutex);
    const LogTarget target = logTarget.load();
    const int fd = logFile.load();
    if (toErrorStream && (!errorsWithLog || (fd < 0 && target == LogTarget::StandardOutput))) {
        std::cerr << line << std::flush;
        return;
    }
    if (fd >= 0) {
        writeWhole(fd, line);
        return;
    }
    switch (target) {
    case LogTarget::StandardOutput: std::cout << line << std::flush; break;
    case LogTarget::StandardError: std::cerr << line << std::flush; break;
    case LogTarget::Nowhere: break;
    }
}
