#include "model/phone_codec.h"

#include <algorithm>

namespace tk7v {

void EncodePhone(std::string_view text, std::span<std::uint8_t, kPhoneSlotSize> slot) {
    std::fill(slot.begin(), slot.end(), std::uint8_t{0});
    std::size_t n = 0;
    for (char c : text) {
        if (n == slot.size()) break;
        if (c >= '1' && c <= '9')
            slot[n++] = static_cast<std::uint8_t>(c - '0');
        else if (c == '0')
            slot[n++] = 0x0A;
        else if (c == ',')
            slot[n++] = 0x2C;
    }
}

std::string DecodePhone(std::span<const std::uint8_t, kPhoneSlotSize> slot) {
    std::string text;
    for (std::uint8_t code : slot) {
        if (code == 0) break;
        if (code >= 1 && code <= 9)
            text += static_cast<char>('0' + code);
        else if (code == 0x0A)
            text += '0';
        else if (code == 0x2C)
            text += ',';
    }
    return text;
}

} // namespace tk7v
