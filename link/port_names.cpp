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

std::vector<std::string> OrderPortNames(std::vector<std::string> names) {
    if (names.empty()) return names;
    const auto [shortest, longest] =
        std::minmax_element(names.begin(), names.end(),
                            [](const std::string& a, const std::string& b) { return a.size() < b.size(); });
    if (shortest->size() < longest->size()) {
        std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
            return a.size() != b.size() ? a.size() < b.size() : a < b;
        });
    }
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
