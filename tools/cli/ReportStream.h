// Where tavirel-cli writes what a person reads: status lines, the summary.
// On a terminal the status line refreshes in place (cut to the terminal's
// width so that it stays one line); piped, every status is a line of its own.
#pragma once

#include <ostream>
#include <string>

class ReportStream {
public:
    // `fd` is the descriptor behind `out`; `refresh` allows refreshing at all
    // (not for JSON, whose readers take whole lines).
    ReportStream(std::ostream& out, int fd, bool refresh);

    // A status line: refreshed in place on a terminal.
    void status(const std::string& line);
    // Any other line; a refreshing status line is ended first.
    void line(const std::string& text);
    // Ends a refreshing status line before someone else writes to the
    // terminal (a warning on standard error).
    void endStatus();

private:
    std::ostream& out;
    bool refreshing;
    int columns;
    bool pending = false;
};
