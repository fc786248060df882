#pragma once
// Telephone numbers as the device stores them: one code per dial symbol in a 24-byte slot.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tk7v {

inline constexpr std::size_t kPhoneSlotSize = 24;

// Fills the slot from the text: digits and commas become codes, everything else is dropped,
// the rest of the slot is zero. A text with more than 24 symbols keeps its first 24.
void EncodePhone(std::string_view text, std::span<std::uint8_t, kPhoneSlotSize> slot);

// The number held in a slot, up to the first zero byte; unknown codes are skipped.
std::string DecodePhone(std::span<const std::uint8_t, kPhoneSlotSize> slot);

} // namespace tk7v
