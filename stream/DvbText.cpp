#include "stream/DvbText.h"

#include <QString>
#include <QTextCodec>

#include <algorithm>

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void appendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

// One decoded character as it goes out: control codes of the tables
// (0x80 … 0x9F single-byte, 0xE080 … 0xE09F two-byte) handled, other
// controls replaced.
void emit(std::string& out, char32_t c)
{
    if (c == 0x86 || c == 0x87 || c == 0xE086 || c == 0xE087)
        return;   // emphasis on / off
    if (c == 0x8A || c == 0xE08A) {
        out += ' ';   // CR/LF
        return;
    }
    const bool control = c < 0x20 || (c >= 0x7F && c <= 0x9F) || (c >= 0xE080 && c <= 0xE09F) ||
                         (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF;
    appendUtf8(out, control ? kReplacement : c);
}

// ISO/IEC 6937 from 0xA0 (the default table of Annex A, figure A.1); 0 where
// the table has no character. 0xC1 … 0xCF are the non-spacing diacritical
// marks, given as the combining characters that follow their letter.
constexpr char32_t kIso6937High[96] = {
    0x00A0, 0x00A1, 0x00A2, 0x00A3, 0,      0x00A5, 0,      0x00A7, 0x00A4, 0x2018, 0x201C, 0x00AB,
    0x2190, 0x2191, 0x2192, 0x2193, 0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x00D7, 0x00B5, 0x00B6, 0x00B7,
    0x00F7, 0x2019, 0x201D, 0x00BB, 0x00BC, 0x00BD, 0x00BE, 0x00BF, 0,      0x0300, 0x0301, 0x0302,
    0x0303, 0x0304, 0x0306, 0x0307, 0x0308, 0,      0x030A, 0x0327, 0,      0x030B, 0x0328, 0x030C,
    0x2015, 0x00B9, 0x00AE, 0x00A9, 0x2122, 0x266A, 0x00AC, 0x00A6, 0,      0,      0,      0,
    0x215B, 0x215C, 0x215D, 0x215E, 0x2126, 0x00C6, 0x0110, 0x00AA, 0x0126, 0,      0x0132, 0x013F,
    0x0141, 0x00D8, 0x0152, 0x00BA, 0x00DE, 0x0166, 0x014A, 0x0149, 0x0138, 0x00E6, 0x0111, 0x00F0,
    0x0127, 0x0131, 0x0133, 0x0140, 0x0142, 0x00F8, 0x0153, 0x00DF, 0x00FE, 0x0167, 0x014B, 0x00AD,
};

std::string decodeIso6937(const uint8_t* t, size_t n)
{
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        const uint8_t b = t[i];
        if (b < 0x80) {
            emit(out, b);
        } else if (b < 0xA0) {
            emit(out, b);   // control codes
        } else if (b >= 0xC1 && b <= 0xCF) {
            // A diacritical mark comes before its letter; Unicode puts the
            // combining mark after it.
            const char32_t mark = kIso6937High[b - 0xA0];
            if (mark == 0 || i + 1 >= n || t[i + 1] < 0x20 || t[i + 1] >= 0x7F) {
                emit(out, kReplacement);
                continue;
            }
            emit(out, t[++i]);
            emit(out, mark);
        } else {
            const char32_t c = kIso6937High[b - 0xA0];
            emit(out, c != 0 ? c : kReplacement);
        }
    }
    return out;
}

std::string decodeWithCodec(const char* name, const uint8_t* t, size_t n)
{
    QTextCodec* codec = name != nullptr ? QTextCodec::codecForName(name) : nullptr;
    if (codec == nullptr) {
        std::string out;
        for (size_t i = 0; i < n; ++i)
            emit(out, t[i] < 0x80 ? char32_t(t[i]) : kReplacement);
        return out;
    }
    std::string out;
    // Single-byte tables: 0x80 … 0x9F are the control codes of Annex A.
    for (size_t i = 0; i < n; ++i) {
        if (t[i] >= 0x80 && t[i] <= 0x9F) {
            emit(out, t[i]);
            continue;
        }
        const QString s = codec->toUnicode(reinterpret_cast<const char*>(t + i), 1);
        const char32_t c = s.isEmpty() ? kReplacement : char32_t(s.at(0).unicode());
        emit(out, c);
    }
    return out;
}

std::string decodeUcs2(const uint8_t* t, size_t n)
{
    std::string out;
    for (size_t i = 0; i + 1 < n; i += 2)
        emit(out, char32_t(t[i] << 8 | t[i + 1]));
    if (n % 2 != 0)
        emit(out, kReplacement);
    return out;
}

std::string decodeUtf8(const uint8_t* t, size_t n)
{
    const std::string valid = validUtf8(std::string(reinterpret_cast<const char*>(t), n));
    const QString s = QString::fromUtf8(valid.data(), int(valid.size()));
    std::string out;
    for (const uint c : s.toUcs4())
        emit(out, c);
    return out;
}

const char* iso8859(int part)
{
    static const char* const names[] = {nullptr,       "ISO-8859-1",  "ISO-8859-2",  "ISO-8859-3",  "ISO-8859-4",
                                        "ISO-8859-5",  "ISO-8859-6",  "ISO-8859-7",  "ISO-8859-8",  "ISO-8859-9",
                                        "ISO-8859-10", "ISO-8859-11", nullptr,       "ISO-8859-13", "ISO-8859-14",
                                        "ISO-8859-15"};
    return part >= 1 && part <= 15 ? names[part] : nullptr;
}

} // namespace

std::string validUtf8(const std::string& text)
{
    std::string out;
    const auto* p = reinterpret_cast<const uint8_t*>(text.data());
    const size_t n = text.size();
    for (size_t i = 0; i < n;) {
        const uint8_t b = p[i];
        size_t length = 0;
        char32_t c = 0;
        if (b < 0x80) {
            length = 1;
            c = b;
        } else if (b >= 0xC2 && b <= 0xDF) {
            length = 2;
            c = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            length = 3;
            c = b & 0x0F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            length = 4;
            c = b & 0x07;
        }
        bool ok = length > 0 && i + length <= n;
        for (size_t k = 1; ok && k < length; ++k) {
            ok = (p[i + k] & 0xC0) == 0x80;
            c = (c << 6) | (p[i + k] & 0x3F);
        }
        // No overlong forms, no surrogates, nothing above U+10FFFF.
        ok = ok && !(length == 3 && c < 0x800) && !(length == 4 && (c < 0x10000 || c > 0x10FFFF)) &&
             !(c >= 0xD800 && c <= 0xDFFF);
        if (!ok) {
            appendUtf8(out, kReplacement);
            ++i;
            continue;
        }
        out.append(text, i, length);
        i += length;
    }
    return out;
}

std::string dvbTextToUtf8(const uint8_t* t, size_t n)
{
    if (n == 0)
        return "";
    const uint8_t first = t[0];
    if (first >= 0x20)
        return decodeIso6937(t, n);
    if (first >= 0x01 && first <= 0x0B)
        return decodeWithCodec(iso8859(first + 4), t + 1, n - 1);
    if (first == 0x10) {
        if (n < 3 || t[1] != 0x00)
            return decodeWithCodec(nullptr, t + std::min<size_t>(n, 3), n - std::min<size_t>(n, 3));
        return decodeWithCodec(iso8859(t[2]), t + 3, n - 3);
    }
    if (first == 0x11)
        return decodeUcs2(t + 1, n - 1);
    if (first == 0x15)
        return decodeUtf8(t + 1, n - 1);
    // East Asian tables (0x12 … 0x14), an encoding_type_id (0x1F) and
    // reserved values: not decoded here, but ASCII still shows.
    const size_t skip = first == 0x1F ? std::min<size_t>(n, 2) : 1;
    return decodeWithCodec(nullptr, t + skip, n - skip);
}
