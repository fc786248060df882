#include "config_io.h"

#include "model/config_file.h"
#include "model/file_texts.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace tk7v::cli {

namespace fs = std::filesystem;

namespace {

// File names arrive as UTF-8; a path made from UTF-8 opens the same name on every system (on
// Windows by its wide-character name, where a plain string would go through the ANSI code page).
fs::path utf8Path(const std::string& name) {
    return fs::path(std::u8string(name.begin(), name.end()));
}

} // namespace

FileResult ReadConfig(const std::string& name) {
    const fs::path path = utf8Path(name);
    std::error_code ec;
    const auto status = fs::status(path, ec);
    if (ec || !fs::exists(status)) return {std::nullopt, texts::kNotFound};
    // Only a plain file is opened; anything else counts as a file whose size cannot be found.
    const auto size = fs::is_regular_file(status) ? fs::file_size(path, ec) : 0;
    if (ec || size != kConfigFileSize) return {std::nullopt, texts::WrongSizeText(ec ? 0 : size)};
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes(kConfigFileSize);
    if (!in.read(bytes.data(), static_cast<std::streamsize>(bytes.size())))
        return {std::nullopt, texts::kReadFailed};
    ParameterImage image;
    std::copy(bytes.begin(), bytes.end(), reinterpret_cast<char*>(image.data()));
    return {image, {}};
}

std::string WriteConfig(const std::string& name, const ParameterImage& image) {
    const fs::path target = utf8Path(name);
    if (fs::exists(target) && !fs::is_regular_file(target)) return texts::kOpenFailed;
    fs::path temp = target;
    temp += ".tk7v-new";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out) return texts::kOpenFailed;
        out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
        out.flush();
        if (!out) {
            out.close();
            std::error_code ec;
            fs::remove(temp, ec);
            return texts::kWriteFailed;
        }
    }
    std::error_code ec;
    fs::rename(temp, target, ec);
    if (ec) {
        fs::remove(temp, ec);
        return texts::kWriteFailed;
    }
    return {};
}

ParameterImage AsTheWindowBuildsIt(const ParameterImage& parameters) {
    ParameterImage image;
    image.fill(0xFF);
    std::copy_n(parameters.begin(), kParameterLength, image.begin());
    FieldValues values;
    ApplyImage(image, values);
    BuildImage(values, image); // the values came from bytes, so every one converts
    return image;
}

} // namespace tk7v::cli
