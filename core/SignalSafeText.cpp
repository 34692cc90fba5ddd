#include "core/SignalSafeText.h"

#include <cerrno>
#include <unistd.h>

namespace {

bool writeAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

} // namespace

SignalSafeText& SignalSafeText::text(const char* s)
{
    if (s != nullptr)
        while (*s != '\0')
            put(*s++);
    return *this;
}

SignalSafeText& SignalSafeText::bytes(const void* data, size_t size)
{
    flush();
    if (size > 0 && !writeAll(fd_, static_cast<const char*>(data), size))
        ok_ = false;
    return *this;
}

SignalSafeText& SignalSafeText::decimal(long long value)
{
    char digits[24];
    int n = 0;
    // In unsigned arithmetic, so that the most negative value has a magnitude.
    unsigned long long magnitude = value < 0 ? 0ull - static_cast<unsigned long long>(value)
                                             : static_cast<unsigned long long>(value);
    do {
        digits[n++] = char('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude > 0);
    if (value < 0)
        put('-');
    while (n > 0)
        put(digits[--n]);
    return *this;
}

SignalSafeText& SignalSafeText::hex(uint64_t value, int minDigits)
{
    char digits[16];
    int n = 0;
    do {
        digits[n++] = "0123456789abcdef"[value & 15];
        value >>= 4;
    } while (value > 0);
    for (int pad = n; pad < minDigits && pad < 32; ++pad)
        put('0');
    while (n > 0)
        put(digits[--n]);
    return *this;
}

bool SignalSafeText::flush()
{
    if (used_ > 0 && !writeAll(fd_, buffer_, used_))
        ok_ = false;
    used_ = 0;
    return ok_;
}
