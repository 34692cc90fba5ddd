// Standard input, output and error as the program found them, looked at
// before anything else is opened. A descriptor 0, 1 or 2 that is closed would
// be taken by the next file, socket or event descriptor opened, and reading
// "standard input" or writing "standard output" (the log too) would then
// reach that instead.
#pragma once

#include <string>

struct StandardStreams {
    std::string inputProblem;    // "" when standard input can be read
    std::string outputProblem;   // "" when standard output can be written
};

// Call first in main, before the application object exists. A closed
// descriptor among 0, 1 and 2 is opened on /dev/null so that nothing else
// takes its number; what was wrong is kept in the answer ("standard input is
// closed", "standard input is a directory", "standard input is not open for
// reading", "standard output is closed", ...).
StandardStreams checkStandardStreams();
