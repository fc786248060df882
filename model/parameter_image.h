#pragma once
// The device's 512-byte configuration block and its conversion to and from the window's
// controls. The layout is written down once, in ImageLayout(); BuildImage and ApplyImage walk it.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tk7v {

inline constexpr std::size_t kImageSize = 512;
// Only bytes 0..237 carry parameters; the device exchange reads and a file load takes in this much.
inline constexpr std::size_t kParameterLength = 238;

using ParameterImage = std::array<std::uint8_t, kImageSize>;

enum class FieldKind {
    Check, // check box: 1 checked, 0 not
    Byte,  // integer text, low 8 bits
    Word,  // integer text, low 16 bits, little-endian
    Item,  // two-item radio group: the selected index
    Phone, // 24-byte phone slot
};

struct FieldSpec {
    std::string_view control; // the control's given name
    std::size_t offset;
    FieldKind kind;
    // Check boxes that ApplyImage sets to a fixed state instead of reading their byte.
    enum class Forced { No, On, Off } forced = Forced::No;
};

// Every field in the order BuildImage writes and ApplyImage sets them; that order is also the
// order in which the enabling rules run when ApplyImage changes their inputs.
const std::vector<FieldSpec>& ImageLayout();

// What the conversions need from the controls. The window passes its widgets, tests a map.
// Texts are UTF-8.
class ControlAccess {
public:
    virtual ~ControlAccess() = default;
    virtual std::string text(std::string_view control) const = 0;
    virtual void setText(std::string_view control, const std::string& text) = 0;
    virtual bool checked(std::string_view control) const = 0;
    virtual void setChecked(std::string_view control, bool on) = 0;
    virtual int itemIndex(std::string_view control) const = 0;
    virtual void setItemIndex(std::string_view control, int index) = 0;
};

// ok, or the failure's own message (for example "'1a' is not a valid integer value"), which
// CodecErrorText turns into what the user reads.
struct CodecResult {
    bool ok = true;
    std::string message;
};

// Rewrites the whole image from the controls. On failure the fields before the offending one
// hold their new values and every byte from it on stays 0xFF.
CodecResult BuildImage(const ControlAccess& controls, ParameterImage& image);

// Sets the controls from the image (bytes 0..237; profile 1 is always made active, profile 2
// inactive).
CodecResult ApplyImage(const ParameterImage& image, ControlAccess& controls);

enum class CodecStage { Build, Apply };

// The text shown for a failed conversion: "Ошибка при обработке данных: '1a' не является
// разрешённым числовым значением." and the like.
std::string CodecErrorText(CodecStage stage, const std::string& failure);

} // namespace tk7v
