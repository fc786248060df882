#pragma once
// A device's 512 bytes of memory: what a new one holds, and the files that keep it.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace tk7v::sim {

constexpr std::size_t kMemorySize = 512;
using Memory = std::array<std::uint8_t, kMemorySize>;

// A factory configuration: the one the configurator itself starts with, with a number set.
Memory FactoryMemory();

// What a device holds when it is first plugged: the factory configuration, or as much of the
// file `path` as there is over it (nothing read when `path` is empty).
Memory InitialMemory(const std::string& path);

// Writes `memory` to `path` through a temporary file, so that a reader never sees half of it.
void SaveMemory(const std::string& path, const Memory& memory);

// A save file's name for the device numbered `number`: each "{n}" in `pattern` is the number.
std::string SavePath(std::string pattern, int number);

} // namespace tk7v::sim
