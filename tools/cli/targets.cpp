#include "targets.h"

#include "config_io.h"
#include "link/port_list.h"
#include "model/config_file.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace tk7v::cli {

namespace fs = std::filesystem;

namespace {

// What a path resolves to, for comparing: links followed where the file exists.
std::string resolved(const std::string& path) {
    std::error_code ec;
    const fs::path p = fs::weakly_canonical(Utf8Path(path), ec);
    std::string out = ec ? path : PathUtf8(p);
#ifdef _WIN32
    // COM3 and com3 are one port, a.cfg and A.CFG one file.
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::toupper(c); });
#endif
    return out;
}

// Something that exists under that name and is certainly no port: a file, a folder, a pipe.
const char* notAPort(const std::string& path) {
    std::error_code ec;
    const auto status = fs::status(Utf8Path(path), ec);
    if (ec) return nullptr;
    switch (status.type()) {
    case fs::file_type::regular:
        return "это файл, а не последовательный порт";
    case fs::file_type::directory:
        return "это папка, а не последовательный порт";
    case fs::file_type::fifo:
    case fs::file_type::socket:
        return "это канал, а не последовательный порт";
    default:
        return nullptr;
    }
}

} // namespace

Targets ResolvePorts(const std::vector<std::string>& names) {
    Targets t;
    for (const std::string& name : names) {
        const std::string path = PortPath(name);
        if (const char* why = notAPort(path)) return {{}, name + ": " + why};
        Target target{name, resolved(path)};
        for (const Target& earlier : t.ports) {
            if (earlier.device != target.device) continue;
            if (earlier.name == name) return {{}, "порт " + name + " указан дважды"};
            return {{},
                    earlier.name + " и " + name + " — один и тот же порт (" + target.device +
                        "), он указан дважды"};
        }
        t.ports.push_back(std::move(target));
    }
    return t;
}

Outputs OutputNames(const std::string& pattern, const std::vector<Target>& ports) {
    static const std::string placeholder = "{port}";
    const bool perPort = pattern.find(placeholder) != std::string::npos;
    if (ports.size() > 1 && pattern == kStandardStream)
        return {{}, "в стандартный вывод (-o -) можно записать только одно устройство"};
    if (ports.size() > 1 && !perPort) return {{}, "при нескольких портах в имени файла нужен {port}"};
    Outputs out;
    std::vector<std::string> files;
    for (std::size_t i = 0; i < ports.size(); ++i) {
        const std::string& port = ports[i].name;
        std::string name = pattern;
        const std::string own = port.substr(port.find_last_of("/\\") + 1);
        for (std::size_t at; (at = name.find(placeholder)) != std::string::npos;)
            name.replace(at, placeholder.size(), own);
        const std::string file = resolved(name);
        for (std::size_t j = 0; j < files.size(); ++j)
            if (files[j] == file)
                return {{},
                        ports[j].name + " и " + port + " записывались бы в один файл " + name +
                            "; нужны имена портов, различные после {port}"};
        files.push_back(file);
        out.names.push_back(std::move(name));
    }
    return out;
}

} // namespace tk7v::cli
