// A SigMF recording as tavirel-cli's input: the datatype, sample rate and
// frequency its metadata gives, where the command line does not say.
#pragma once

#include "CliOptions.h"

#include <string>
#include <vector>

// Reads the metadata of options.sigmfMetaPath (nothing when empty) and
// takes what it gives. Returns 0, or the exit code with `message` (an
// unusable metadata file: the input's code, naming the file and field).
// `notes` receives a line for each option the command line set otherwise.
int applySigmfInput(CliOptions& options, std::string& message, std::vector<std::string>& notes);
