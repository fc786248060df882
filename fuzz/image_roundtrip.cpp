// ApplyImage then BuildImage on any 512-byte image: the parameter bytes come back except for
// what the layout cannot hold (forced profile switches, non-zero switch bytes as 1, spare bytes
// as 0xFF, phone codes outside the code set), and applying the result again changes nothing.
#include "model/parameter_image.h"
#include "model/recording_controls.h"

#include <cstdlib>

using namespace tk7v;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size != kImageSize) return 0;
    ParameterImage in;
    std::copy(data, data + size, in.begin());
    FieldValues controls;
    if (!ApplyImage(in, controls).ok) std::abort();
    ParameterImage out;
    if (!BuildImage(controls, out).ok) std::abort();

    std::array<bool, kImageSize> covered{};
    for (const FieldSpec& f : ImageLayout()) {
        const std::size_t width = f.kind == FieldKind::Word ? 2 : f.kind == FieldKind::Phone ? 24 : 1;
        for (std::size_t k = 0; k < width; ++k)
            covered[f.offset + k] = true;
        switch (f.kind) {
        case FieldKind::Check:
            if (out[f.offset] !=
                (f.forced == FieldSpec::Forced::No ? (in[f.offset] != 0) : f.forced == FieldSpec::Forced::On))
                std::abort();
            break;
        case FieldKind::Item:
            if (out[f.offset] != (in[f.offset] != 0)) std::abort();
            break;
        case FieldKind::Byte:
        case FieldKind::Word:
            for (std::size_t k = 0; k < width; ++k)
                if (out[f.offset + k] != in[f.offset + k]) std::abort();
            break;
        case FieldKind::Phone: {
            std::size_t n = 0;
            for (std::size_t k = 0; k < 24 && in[f.offset + k] != 0; ++k) {
                const std::uint8_t c = in[f.offset + k];
                if ((c >= 1 && c <= 10) || c == 0x2C) {
                    if (out[f.offset + n++] != c) std::abort();
                }
            }
            for (; n < 24; ++n)
                if (out[f.offset + n] != 0) std::abort();
            break;
        }
        }
    }
    for (std::size_t k = 0; k < kImageSize; ++k)
        if (!covered[k] && out[k] != 0xFF) std::abort();

    FieldValues again;
    ApplyImage(out, again);
    if (!test::SameValues(again, controls)) std::abort();
    return 0;
}
