// Status lines on a terminal refresh in place, cut to its width; piped,
// each is a line.
#include "ReportStream.h"

#include <gtest/gtest.h>

#include <pty.h>
#include <sstream>
#include <sys/ioctl.h>
#include <unistd.h>

TEST(ReportStream, RefreshesOnATerminalAndWritesLinesWhenPiped)
{
    int master = -1, slave = -1;
    winsize size {};
    size.ws_col = 20;
    size.ws_row = 10;
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, &size), 0);
    std::ostringstream terminal;
    {
        ReportStream report(terminal, slave, true);
        report.status("status: one two three four");
        report.status("status: five");
        report.endStatus();
        report.endStatus();   // nothing left to end
        report.status("status: six");
        report.line("summary: done");
    }
    EXPECT_EQ(terminal.str(), "\rstatus: one two thr\033[K\rstatus: five\033[K\n\rstatus: six\033[K\nsummary: done\n");

    // JSON readers take whole lines even on a terminal.
    std::ostringstream json;
    ReportStream whole(json, slave, false);
    whole.status("{\"type\":\"status\"}");
    whole.line("{\"type\":\"summary\"}");
    EXPECT_EQ(json.str(), "{\"type\":\"status\"}\n{\"type\":\"summary\"}\n");
    ::close(master);
    ::close(slave);

    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    std::ostringstream piped;
    ReportStream lines(piped, pipeEnds[1], true);
    lines.status("status: one");
    lines.status("status: two");
    lines.line("summary: done");
    EXPECT_EQ(piped.str(), "status: one\nstatus: two\nsummary: done\n");
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
}
