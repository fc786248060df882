// The integer text rule against a second, deliberately plain reading of it.
#include "model/integer_text.h"

#include <cstdlib>
#include <optional>
#include <string>

namespace {

// Written from the rule's words, without cleverness: blanks, then a signed decimal within the
// 32-bit range, or a hex prefix and at most eight significant hex digits, and nothing after.
std::optional<long long> reference(std::string s) {
    std::size_t i = 0;
    while (i < s.size() && s[i] == ' ')
        ++i;
    s = s.substr(i);
    if (s.empty()) return std::nullopt;
    std::string digits;
    bool hex = false;
    if (s.rfind("0x", 0) == 0 || s.rfind("0X", 0) == 0) {
        hex = true;
        digits = s.substr(2);
    } else if (s[0] == '$' || s[0] == 'x' || s[0] == 'X') {
        hex = true;
        digits = s.substr(1);
    }
    if (hex) {
        if (digits.empty()) return std::nullopt;
        for (char c : digits)
            if (std::string("0123456789abcdefABCDEF").find(c) == std::string::npos) return std::nullopt;
        const std::size_t first = digits.find_first_not_of('0');
        if (first != std::string::npos && digits.size() - first > 8) return std::nullopt;
        unsigned long long v =
            first == std::string::npos ? 0 : std::stoull(digits.substr(first), nullptr, 16);
        return static_cast<long long>(static_cast<int>(static_cast<unsigned>(v)));
    }
    std::size_t start = (s[0] == '+' || s[0] == '-') ? 1 : 0;
    digits = s.substr(start);
    if (digits.empty()) return std::nullopt;
    for (char c : digits)
        if (c < '0' || c > '9') return std::nullopt;
    const std::size_t first = digits.find_first_not_of('0');
    if (first != std::string::npos && digits.size() - first > 10) return std::nullopt;
    long long v = first == std::string::npos ? 0 : std::stoll(digits.substr(first));
    if (s[0] == '-') v = -v;
    if (v < -2147483648LL || v > 2147483647LL) return std::nullopt;
    return v;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto got = tk7v::ParseInteger(text);
    const auto want = reference(text);
    if (got.has_value() != want.has_value()) std::abort();
    if (got && *got != *want) std::abort();
    return 0;
}
