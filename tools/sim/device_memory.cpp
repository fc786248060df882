#include "device_memory.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

namespace tk7v::sim {

Memory FactoryMemory() {
    Memory m;
    m.fill(0xFF);
    const std::uint8_t profile1[] = {0xFF, 0x01, 0x02, 0x01, 0x03, 0x0A, 0x01, 0x00, 0x00, 0x00};
    const std::uint8_t profile2[] = {0xFF, 0x00, 0x01, 0x01, 0x03, 0x0A, 0x03, 0x00, 0x00, 0x00};
    std::copy(std::begin(profile1), std::end(profile1), m.begin());
    std::fill(m.begin() + 16, m.begin() + 112, 0x00);
    const std::uint8_t phone[] = {8, 10, 10, 1, 2, 3, 4, 5, 6, 7}; // 8001234567
    std::copy(std::begin(phone), std::end(phone), m.begin() + 16);
    std::copy(std::begin(profile2), std::end(profile2), m.begin() + 112);
    std::fill(m.begin() + 128, m.begin() + 224, 0x00);
    const std::uint8_t line[] = {0x00, 0x1E, 0x00, 0x00, 0x00, 0x00, 0x01,
                                 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x05};
    std::copy(std::begin(line), std::end(line), m.begin() + 224);
    return m;
}

Memory InitialMemory(const std::string& path) {
    Memory memory = FactoryMemory();
    if (!path.empty()) {
        std::ifstream in(path, std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        for (std::size_t i = 0; i < bytes.size() && i < kMemorySize; ++i)
            memory[i] = static_cast<std::uint8_t>(bytes[i]);
    }
    return memory;
}

void SaveMemory(const std::string& path, const Memory& memory) {
    const std::string tmp = path + ".tmp";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(memory.data()), static_cast<std::streamsize>(memory.size()));
    }
    std::rename(tmp.c_str(), path.c_str());
}

std::string SavePath(std::string pattern, int number) {
    static const std::string mark = "{n}";
    const std::string n = std::to_string(number);
    for (auto at = pattern.find(mark); at != std::string::npos; at = pattern.find(mark, at + n.size()))
        pattern.replace(at, mark.size(), n);
    return pattern;
}

} // namespace tk7v::sim
