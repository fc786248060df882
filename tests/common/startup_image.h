#pragma once
// The image the window builds from its start-up values, byte for byte as the device's
// documentation lists it; written out here so that the code's own layout table is not its judge.
#include "model/parameter_image.h"

#include <algorithm>

namespace tk7v::test {

inline ParameterImage StartupImage() {
    ParameterImage img;
    img.fill(0xFF);
    const std::uint8_t p1[] = {0xFF, 0x01, 0x01, 0x01, 0x03, 0x0A, 0x01, 0x00, 0x00, 0x00};
    const std::uint8_t p2[] = {0xFF, 0x00, 0x01, 0x01, 0x03, 0x0A, 0x03, 0x00, 0x00, 0x00};
    const std::uint8_t tail[] = {0x00, 0x1E, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x05};
    std::copy(std::begin(p1), std::end(p1), img.begin());
    std::fill(img.begin() + 16, img.begin() + 112, 0x00);
    std::copy(std::begin(p2), std::end(p2), img.begin() + 112);
    std::fill(img.begin() + 128, img.begin() + 224, 0x00);
    std::copy(std::begin(tail), std::end(tail), img.begin() + 224);
    return img;
}

} // namespace tk7v::test
