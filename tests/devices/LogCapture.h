// The console log of a stretch of a test, as lines.
#pragma once

#include <iostream>
#include <sstream>
#include <string>
#include <vector>

class LogCapture {
public:
    LogCapture() : saved(std::cout.rdbuf(captured.rdbuf())) {}
    ~LogCapture() { std::cout.rdbuf(saved); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> lines() const
    {
        std::vector<std::string> out;
        std::istringstream in(captured.str());
        for (std::string line; std::getline(in, line);)
            out.push_back(line);
        return out;
    }
    bool has(const std::string& line) const
    {
        for (const std::string& l : lines())
            if (l == line)
                return true;
        return false;
    }

private:
    std::ostringstream captured;
    std::streambuf* saved;
};
