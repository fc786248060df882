#include "shown_text.h"

#include <cstdio>

namespace tk7v::station {

namespace {

std::string Escape(const char* form, unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, form, value);
    return text;
}

// The length of the UTF-8 sequence at `at`, or 0 when it is none (a stray continuation, a lead
// cut short, an overlong form, a surrogate, beyond U+10FFFF): a byte of a terminal's 8-bit
// controls (0x9B is CSI to some) must not pass as part of a character.
std::size_t SequenceAt(std::string_view s, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned lead = byte(at);
    std::size_t length = 0;
    unsigned low = 0x80, high = 0xBF; // the second byte's range
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (at + length > s.size() || byte(at + 1) < low || byte(at + 1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i)
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
    return length;
}

} // namespace

std::string ControlsEscaped(std::string_view utf8, bool keepLines) {
    std::string shown;
    shown.reserve(utf8.size());
    for (std::size_t at = 0; at < utf8.size();) {
        const unsigned char c = static_cast<unsigned char>(utf8[at]);
        if (c < 0x80) {
            const bool control = c < 0x20 || c == 0x7F;
            if (control && !(keepLines && (c == '\n' || c == '\t')))
                shown += Escape("\\x%02X", c);
            else
                shown += static_cast<char>(c);
            ++at;
            continue;
        }
        const std::size_t length = SequenceAt(utf8, at);
        if (length == 0) {
            shown += Escape("\\x%02X", c);
            ++at;
        } else if (c == 0xC2 && static_cast<unsigned char>(utf8[at + 1]) < 0xA0) {
            shown += Escape("\\u%04X", static_cast<unsigned char>(utf8[at + 1])); // U+0080..U+009F
            at += 2;
        } else {
            shown.append(utf8, at, length);
            at += length;
        }
    }
    return shown;
}

} // namespace tk7v::station
