#include "core/SettingsFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

std::string settingsFileProblem(const std::string& path)
{
    // Opened, not only looked up: what is checked is what would be read.
    // O_NONBLOCK: a FIFO without a writer opens at once instead of waiting.
    int fd = -1;
    do
        fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        if (errno == ENOENT)
            return "";
        return std::string("cannot be read (") + std::strerror(errno) + ")";
    }
    struct stat st {};
    std::string problem;
    if (::fstat(fd, &st) != 0)
        problem = std::string("cannot be read (") + std::strerror(errno) + ")";
    else if (!S_ISREG(st.st_mode))
        problem = "is not a regular file";
    else if (uint64_t(st.st_size) > kMaxSettingsFileBytes)
        problem = "is too large (" + std::to_string(uint64_t(st.st_size)) + " bytes, at most " +
                  std::to_string(kMaxSettingsFileBytes) + ")";
    ::close(fd);
    return problem;
}
