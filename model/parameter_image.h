#pragma once
// The device's 512-byte configuration block and its conversion to and from the window's
// controls. The layout is written down once, in ImageLayout(); BuildImage and ApplyImage walk it.
#include "model/phone_codec.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
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

// How many bytes of the image a field of this kind takes.
constexpr std::size_t FieldWidth(FieldKind kind) {
    return kind == FieldKind::Word ? 2 : kind == FieldKind::Phone ? kPhoneSlotSize : 1;
}

// The values an integer field's caption advertises. Nothing holds a typed value to them (the
// window stores any integer's low bits); they are what the installer is told to enter.
struct FieldRange {
    int low = 0;
    int high = 0;
};

// One field of the image and the control that holds it: the single place where the layout, the
// window's limits and start-up values and the captions are written down.
struct FieldSpec {
    std::string_view control; // the control's given name
    std::size_t offset;
    FieldKind kind;
    // Check boxes that ApplyImage sets to a fixed state instead of reading their byte.
    enum class Forced { No, On, Off } forced = Forced::No;
    // The caption the installer reads for it: the label's, the check box's or the group's. An
    // integer field's caption ends with its range, " (low-high)", made from `range`.
    std::string_view caption;
    // The value at start-up: an edit's text, "1" or "0" for a check box, the item index of a
    // radio group.
    std::string_view initial;
    int limit = 0;                           // an edit's length limit
    std::array<std::string_view, 2> items{}; // a radio group's two items
    bool hidden = false;                     // never shown in the window; its value travels all the same
    std::optional<FieldRange> range;         // integer fields
};

// Every field in the order BuildImage writes and ApplyImage sets them; that order is also the
// order in which the enabling rules run when ApplyImage changes their inputs.
const std::vector<FieldSpec>& ImageLayout();

// The field of that control, or null.
const FieldSpec* FindField(std::string_view control);

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

// The controls as plain values, starting from the window's start-up values. The command line
// edits and shows configurations through it; tests drive the conversions with it.
class FieldValues : public ControlAccess {
public:
    FieldValues();
    std::string text(std::string_view control) const override;
    void setText(std::string_view control, const std::string& text) override;
    bool checked(std::string_view control) const override;
    void setChecked(std::string_view control, bool on) override;
    int itemIndex(std::string_view control) const override;
    void setItemIndex(std::string_view control, int index) override;

private:
    std::map<std::string, std::string, std::less<>> texts_;
    std::map<std::string, int, std::less<>> states_; // check boxes 0/1, radio groups the index
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

// The image the window builds from its start-up values.
ParameterImage StartupImage();

enum class CodecStage { Build, Apply };

// The text shown for a failed conversion: "Ошибка при обработке данных: '1a' не является
// разрешённым числовым значением." and the like.
std::string CodecErrorText(CodecStage stage, const std::string& failure);

} // namespace tk7v
