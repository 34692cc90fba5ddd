// Where tavirel-cli reads and writes, checked before anything is opened: host
// names become addresses, and no output or recording may be the input or
// another output (opening it for writing would destroy the recording, or
// every packet would go out twice).
#pragma once

#include "CliOptions.h"

#include <string>

// Replaces the host names of the TCP input and the network outputs by one of
// their addresses (IPv4 first). False with `message` naming the option when
// a name does not resolve.
bool resolveHostNames(CliOptions& options, std::string& message);

// "" when every output and recording are distinct from the input and from
// each other; otherwise a message naming both options. Files are compared by
// device and inode (by their absolute path while they do not exist yet),
// standard input and output by the files they are redirected from and to.
std::string conflictingTargets(const CliOptions& options);
