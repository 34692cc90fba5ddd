// Text fields of DVB service information (EN 300 468 Annex A) as UTF-8: the
// character table named by the leading byte, the control codes of the
// tables, and nothing that a terminal or a JSON reader could take for
// anything but text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Decodes a text field (service name, provider name). Tables: the default
// (ISO/IEC 6937 Latin, with its non-spacing diacritical marks), ISO/IEC
// 8859-5 … 15 (leading bytes 0x01 … 0x0B and 0x10 0x00 N), ISO/IEC 10646
// two-byte (0x11) and UTF-8 (0x15). Emphasis codes are dropped, the line
// break code becomes a space, and control and undecodable characters (and
// tables not supported: the East Asian ones) become U+FFFD.
std::string dvbTextToUtf8(const uint8_t* text, size_t length);

// `text` with every byte sequence that is not well-formed UTF-8 replaced by
// U+FFFD.
std::string validUtf8(const std::string& text);
