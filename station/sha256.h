#pragma once
// SHA-256 of a configuration block, for the report: the station links no library that has
// one, and the digest is small enough to keep here (checked against the standard's test vectors).
#include <cstdint>
#include <span>
#include <string>

namespace tk7v::station {

// The digest as 64 lower-case hex digits.
std::string Sha256Hex(std::span<const std::uint8_t> bytes);

} // namespace tk7v::station
