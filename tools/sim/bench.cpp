#include "bench.h"

#include <cctype>
#include <cstdlib>

namespace tk7v::sim {

Bench::Bench(const Memory& initial, const Faults& faults, std::string savePattern)
    : initial_(initial), faults_(faults), savePattern_(std::move(savePattern)) {}

std::optional<Bench::Ack> Bench::command(std::string text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.pop_back();
    text.erase(0, text.find_first_not_of(" \t"));
    if (text.empty()) return std::nullopt;
    if (text == "unplug") return unplug();
    if (text == "plug") return plug(0);
    if (text.rfind("plug ", 0) == 0) {
        char* end = nullptr;
        const long number = std::strtol(text.c_str() + 5, &end, 10);
        if (*end == 0 && number > 0 && number <= count_) return plug(static_cast<int>(number));
        return Refuse("устройство " + text.substr(5) + " ещё не подключалось");
    }
    return Refuse("неизвестная команда \"" + text + "\" (есть plug, plug N, unplug)");
}

Bench::Ack Bench::plug(int number) {
    if (device_) return Refuse("устройство " + std::to_string(number_) + " уже подключено: сначала unplug");
    Memory memory = initial_;
    if (number == 0)
        number = ++count_;
    else
        memory = kept_.at(number);
    device_ = std::make_shared<Device>(faults_, memory,
                                       savePattern_.empty() ? std::string() : SavePath(savePattern_, number));
    device_->save();
    number_ = number;
    ++changes_;
    record("PLUG " + std::to_string(number));
    return {"plugged " + std::to_string(number), {}};
}

Bench::Ack Bench::unplug() {
    if (!device_) return Refuse("устройство не подключено");
    device_->save();
    kept_[number_] = device_->memory();
    device_.reset();
    ++changes_;
    record("UNPLUG " + std::to_string(number_));
    return {"unplugged " + std::to_string(number_), {}};
}

Memory Bench::memoryOf(int number) const {
    if (device_ && number == number_) return device_->memory();
    const auto kept = kept_.find(number);
    return kept != kept_.end() ? kept->second : initial_;
}

void Bench::save() const {
    if (device_) device_->save();
}

} // namespace tk7v::sim
