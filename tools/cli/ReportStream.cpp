#include "ReportStream.h"

#include <sys/ioctl.h>
#include <unistd.h>

ReportStream::ReportStream(std::ostream& out, int fd, bool refresh)
    : out(out), refreshing(refresh && ::isatty(fd) == 1), columns(0)
{
    winsize size {};
    if (refreshing && ::ioctl(fd, TIOCGWINSZ, &size) == 0)
        columns = size.ws_col;
}

void ReportStream::status(const std::string& text)
{
    if (!refreshing) {
        out << text << std::endl;
        return;
    }
    // Back to the line's start, the text, and the rest of the line cleared.
    const size_t width = columns > 1 ? size_t(columns - 1) : text.size();
    out << '\r' << text.substr(0, width) << "\033[K" << std::flush;
    pending = true;
}

void ReportStream::line(const std::string& text)
{
    endStatus();
    out << text << std::endl;
}

void ReportStream::endStatus()
{
    if (!pending)
        return;
    out << std::endl;
    pending = false;
}
