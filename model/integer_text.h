#pragma once
// The integer text rule every numeric field of the configuration obeys. The device's own
// configurator always accepted exactly these forms, so stored files and habits rely on them.
#include <cstdint>
#include <optional>
#include <string_view>

namespace tk7v {

// Parses a whole 32-bit integer: leading blanks, then an optionally signed decimal number or a
// hexadecimal one after "$", "x", "X", "0x" or "0X" (unsigned, at most eight significant digits,
// values above 7FFFFFFF wrap to negative). Nothing may follow the last digit.
std::optional<std::int32_t> ParseInteger(std::string_view text);

} // namespace tk7v
