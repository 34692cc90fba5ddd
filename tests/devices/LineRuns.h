// Finding an expected run of lines (log lines, recorded calls) in a longer list.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

// Whether `run` occurs in `lines` as consecutive entries.
inline bool containsRun(const std::vector<std::string>& lines, const std::vector<std::string>& run)
{
    return std::search(lines.begin(), lines.end(), run.begin(), run.end()) != lines.end();
}

// The last `n` entries (all of them when there are fewer).
inline std::vector<std::string> lastEntries(const std::vector<std::string>& lines, size_t n)
{
    return {lines.end() - long(std::min(n, lines.size())), lines.end()};
}
