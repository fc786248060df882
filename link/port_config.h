#pragma once
// The line settings applied at each open of the port. Every run starts from the defaults: 9600
// baud, 8 data bits, no parity, one stop bit, no flow control, DTR and RTS low.
#include <chrono>
#include <cstdint>

namespace tk7v {

struct PortConfig {
    enum class Parity : std::uint8_t { None = 0, Odd = 1, Even = 2, Mark = 3, Space = 4 };
    enum class StopBits : std::uint8_t { One = 0, OneAndHalf = 1, Two = 2 };
    enum class RtsControl : std::uint8_t { Disable = 0, Enable = 1, Handshake = 2, Toggle = 3 };

    std::uint32_t baudRate = 9600;
    std::uint8_t byteSize = 8;
    Parity parity = Parity::None;
    StopBits stopBits = StopBits::One;
    bool outxCtsFlow = false;
    RtsControl rtsControl = RtsControl::Disable;
    bool outX = false; // XON/XOFF on output
    bool inX = false;  // XON/XOFF on input
    std::uint8_t xonChar = 0x11;
    std::uint8_t xoffChar = 0x13;

    bool operator==(const PortConfig&) const = default;

    // One character on the line: a start bit, the data bits, the parity bit and the stop bits
    // (one and a half counted as one, so the time is never overstated).
    std::chrono::microseconds characterTime() const {
        const unsigned bits =
            1u + byteSize + (parity == Parity::None ? 0u : 1u) + (stopBits == StopBits::Two ? 2u : 1u);
        return std::chrono::microseconds(baudRate ? bits * 1'000'000ull / baudRate : 0);
    }
};

} // namespace tk7v
