// printf-style formatting for the protocol traces of the stream layer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

template <typename... Args>
std::string traceFormat(const char* fmt, Args... args)
{
    char text[160];
    std::snprintf(text, sizeof text, fmt, args...);
    return text;
}

// " %02x" for each byte.
inline std::string traceHex(const uint8_t* bytes, size_t n)
{
    std::string out;
    for (size_t i = 0; i < n; ++i)
        out += traceFormat(" %02x", unsigned(bytes[i]));
    return out;
}
