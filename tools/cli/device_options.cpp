#include "device_options.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace tk7v::cli {

namespace {

// The rates every serial driver here takes.
constexpr std::uint32_t kBauds[] = {110,   300,   600,   1200,   2400,   4800,   9600,
                                    19200, 38400, 57600, 115200, 230400, 460800, 921600};

template <class T> bool number(const std::string& word, T& value) {
    const char* end = word.data() + word.size();
    const auto r = std::from_chars(word.data(), end, value);
    return r.ec == std::errc() && r.ptr == end && !word.empty();
}

std::string refused(const char* option, const std::string& word, const std::string& allowed) {
    return std::string(option) + " '" + word + "': " + allowed;
}

} // namespace

void DeviceOptionWords::add(CLI::App* command) {
    // One port each time the option is given: a file name after it is no second port.
    command->add_option("--port", ports_, "ещё один порт (можно повторять)")
        ->type_name("ПОРТ")
        ->allow_extra_args(false);
    command->add_option("--baud", baud_, "скорость, бит/с (9600)")->type_name("ЧИСЛО");
    command->add_option("--data-bits", dataBits_, "биты данных: 5..8 (8)")->type_name("ЧИСЛО");
    command->add_option("--parity", parity_, "чётность: none, odd, even, mark, space (none)")
        ->type_name("ИМЯ");
    command->add_option("--stop-bits", stopBits_, "стоповые биты: 1, 1.5, 2 (1)")->type_name("ЧИСЛО");
    timeoutOption_ = command->add_option("--timeout", timeout_, "сколько ждать ответа устройства, с (5)")
                         ->type_name("СЕКУНДЫ");
    command->add_option("--retries", retries_, "сколько раз повторять отвергнутую запись (10)")
        ->type_name("ЧИСЛО");
}

std::vector<std::string> DeviceOptionWords::ports(std::vector<std::string> words) const {
    words.insert(words.end(), ports_.begin(), ports_.end());
    return words;
}

std::string DeviceOptionWords::resolve(DeviceOptions& options) const {
    PortConfig& c = options.config;
    std::uint32_t baud = 0;
    if (!number(baud_, baud) || std::find(std::begin(kBauds), std::end(kBauds), baud) == std::end(kBauds)) {
        std::string all;
        for (std::uint32_t b : kBauds)
            all += (all.empty() ? "" : ", ") + std::to_string(b);
        return refused("--baud", baud_, "допустимо: " + all);
    }
    c.baudRate = baud;
    int bits = 0;
    if (!number(dataBits_, bits) || bits < 5 || bits > 8)
        return refused("--data-bits", dataBits_, "допустимо: 5, 6, 7, 8");
    c.byteSize = static_cast<std::uint8_t>(bits);
    const char* const parities[] = {"none", "odd", "even", "mark", "space"};
    const auto parity = std::find(std::begin(parities), std::end(parities), parity_);
    if (parity == std::end(parities))
        return refused("--parity", parity_, "допустимо: none, odd, even, mark, space");
    c.parity = static_cast<PortConfig::Parity>(parity - std::begin(parities));
    if (stopBits_ == "1")
        c.stopBits = PortConfig::StopBits::One;
    else if (stopBits_ == "1.5")
        c.stopBits = PortConfig::StopBits::OneAndHalf;
    else if (stopBits_ == "2")
        c.stopBits = PortConfig::StopBits::Two;
    else
        return refused("--stop-bits", stopBits_, "допустимо: 1, 1.5, 2");
    double seconds = 0;
    if (!number(timeout_, seconds) || !std::isfinite(seconds) || seconds < 0.1 || seconds > 3600)
        return refused("--timeout", timeout_, "ожидается число секунд от 0.1 до 3600, например 5 или 0.5");
    options.timeout = std::chrono::milliseconds(std::lround(seconds * 1000));
    if (!number(retries_, options.retries) || options.retries < 0 || options.retries > 1000)
        return refused("--retries", retries_, "ожидается целое число от 0 до 1000");
    return {};
}

} // namespace tk7v::cli
