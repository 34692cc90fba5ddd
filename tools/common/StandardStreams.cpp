#include "StandardStreams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

// "" when `fd` is open for `access` (O_RDONLY or O_WRONLY) and no directory.
std::string problemOf(int fd, int access, const std::string& name)
{
    int flags = -1;
    do
        flags = ::fcntl(fd, F_GETFL);
    while (flags < 0 && errno == EINTR);
    if (flags < 0)
        return name + " is closed";
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode))
        return name + " is a directory";
    const int mode = flags & O_ACCMODE;
    if (mode != O_RDWR && mode != access)
        return name + (access == O_RDONLY ? " is not open for reading" : " is not open for writing");
    return "";
}

// Takes the number of a closed descriptor with /dev/null.
void occupy(int fd, int access)
{
    if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF)
        return;
    const int opened = ::open("/dev/null", access | O_NOCTTY);
    if (opened >= 0 && opened != fd) {
        ::dup2(opened, fd);
        ::close(opened);
    }
}

} // namespace

StandardStreams checkStandardStreams()
{
    StandardStreams s;
    s.inputProblem = problemOf(STDIN_FILENO, O_RDONLY, "standard input");
    s.outputProblem = problemOf(STDOUT_FILENO, O_WRONLY, "standard output");
    // In order: /dev/null opened for a closed 0 gets 0, then 1, then 2.
    occupy(STDIN_FILENO, O_RDONLY);
    occupy(STDOUT_FILENO, O_WRONLY);
    occupy(STDERR_FILENO, O_WRONLY);
    return s;
}
