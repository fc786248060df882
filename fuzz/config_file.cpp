// A configuration file of any contents: only exactly 512 bytes load, only the parameter
// stretch is taken, and whatever was loaded converts into controls.
#include "model/config_file.h"
#include "model/parameter_image.h"

#include <cstdlib>

using namespace tk7v;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ParameterImage image;
    image.fill(0xA5);
    const bool loaded = TakeConfigFile({data, size}, image);
    if (loaded != (size == kConfigFileSize)) std::abort();
    for (std::size_t k = loaded ? kParameterLength : 0; k < kImageSize; ++k)
        if (image[k] != 0xA5) std::abort();
    if (loaded) {
        FieldValues controls;
        if (!ApplyImage(image, controls).ok) std::abort();
    }
    return 0;
}
