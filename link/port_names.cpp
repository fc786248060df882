#include "link/port_names.h"

#include <algorithm>
#include <cctype>

namespace tk7v {

std::optional<std::string> AcceptWindowsPortName(std::string_view dosName) {
    if (dosName.size() < 4 || dosName.size() > 6) return std::nullopt;
    std::string upper(dosName);
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return std::toupper(c); });
    if (upper.compare(0, 3, "COM") != 0 || !std::isdigit(static_cast<unsigned char>(upper[3])))
        return std::nullopt;
    return upper;
}

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The run of digits that starts at `from`, without its leading zeros.
std::string_view numberAt(std::string_view s, std::size_t from, std::size_t& end) {
    end = from;
    while (end < s.size() && isDigit(s[end]))
        ++end;
    std::string_view digits = s.substr(from, end - from);
    digits.remove_prefix(std::min(digits.find_first_not_of('0'), digits.size()));
    return digits;
}

} // namespace

bool PortNameLess(std::string_view a, std::string_view b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            // Compared as text, digits never overflow a number: a longer run is a larger value.
            const std::string_view x = numberAt(a, i, i), y = numberAt(b, j, j);
            if (x.size() != y.size()) return x.size() < y.size();
            if (x != y) return x < y;
            continue;
        }
        if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size()) return i == a.size(); // the one that ended first
    return a < b;
}

std::vector<std::string> OrderPortNames(std::vector<std::string> names) {
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return PortNameLess(a, b); });
    return names;
}

std::vector<std::string> PortListOrFallback(std::vector<std::string> found, std::string_view prefix,
                                            bool zeroBased) {
    found = OrderPortNames(std::move(found));
    if (found.empty()) {
        for (int i = 0; i < 9; ++i)
            found.push_back(std::string(prefix) + std::to_string(zeroBased ? i : i + 1));
    }
    return found;
}

int SelectPortIndex(int saved, std::size_t count) {
    return saved >= 0 && static_cast<std::size_t>(saved) < count ? saved : 0;
}

std::vector<std::string> WindowsPortList(const std::vector<std::string>& dosNames) {
    std::vector<std::string> found;
    for (const std::string& name : dosNames)
        if (auto accepted = AcceptWindowsPortName(name)) found.push_back(*accepted);
    return PortListOrFallback(std::move(found), "COM", false);
}

} // namespace tk7v
