#include "core/Log.h"

#include <iostream>
#include <mutex>
#include <unistd.h>

namespace {
std::mutex logMutex;
bool logToStderr = false;
}

void setLogToStderr(bool toStderr)
{
    std::lock_guard<std::mutex> lock(logMutex);
    logToStderr = toStderr;
}

std::ostream& logStream()
{
    return logToStderr ? std::cerr : std::cout;
}

int logFileDescriptor()
{
    return logToStderr ? STDERR_FILENO : STDOUT_FILENO;
}

LogLine::~LogLine()
{
    text << '\n';
    const std::string line = text.str();
    std::lock_guard<std::mutex> lock(logMutex);
    std::ostream& out = toErrorStream ? std::cerr : logStream();
    out << line;
    out.flush();
}
