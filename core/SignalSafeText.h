// Text for a file descriptor from inside a signal handler: a fixed buffer
// and write(2) only, no allocation, no stdio, no locks, so that a report
// written after a fault inside malloc or printf cannot deadlock on it.
#pragma once

#include <cstddef>
#include <cstdint>

class SignalSafeText {
public:
    explicit SignalSafeText(int fd) : fd_(fd) {}
    ~SignalSafeText() { flush(); }
    SignalSafeText(const SignalSafeText&) = delete;
    SignalSafeText& operator=(const SignalSafeText&) = delete;

    SignalSafeText& text(const char* s);
    SignalSafeText& bytes(const void* data, size_t size);
    SignalSafeText& decimal(long long value);
    // Lower-case hexadecimal, at least `minDigits` digits, no prefix.
    SignalSafeText& hex(uint64_t value, int minDigits = 1);
    // Writes what is buffered; false once any write has failed.
    bool flush();
    bool ok() const { return ok_; }

private:
    void put(char c)
    {
        if (used_ == sizeof(buffer_))
            flush();
        buffer_[used_++] = c;
    }

    int fd_;
    bool ok_ = true;
    size_t used_ = 0;
    char buffer_[512];
};
