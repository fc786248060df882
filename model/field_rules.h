#pragma once
// Configurations as named fields, by the window's rules: what each control would show after a
// load, the fields in which two images differ, and changes by control name as a user typing into
// the window would make them. Every front end that names fields (the command line's show, diff
// and set, and whatever reads fields from text) goes through these, so they agree.
#include "model/parameter_image.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tk7v {

struct FieldView {
    const FieldSpec* field;
    std::string text; // as the window shows it: digits, an item's name, "да" or "нет"
    bool on = false;  // a check box
};

// Characters, not bytes, of a UTF-8 text: what the window's length limits count.
std::size_t Utf8Characters(std::string_view utf8);

// Every field of the image, in the layout's order, as the window would show it after a load.
std::vector<FieldView> ViewFields(const ParameterImage& image);

struct Difference {
    std::string name;    // the control's name, or "байт N" for a byte that no field holds
    std::string caption; // empty for a bare byte
    std::string first, second;
};

// A field as the installer knows it from the window: its caption without the range, after its
// page's name where the two central stations' pages share captions ("ЦС №1: Телефон №4"); a
// name no field has ("байт 12") as it is.
std::string ShownName(std::string_view control);

// Where bytes 0..237 of two images differ, by field. Values as the window shows them; where
// that hides the difference (a check box stored as 1 and as 2), the stored bytes follow.
std::vector<Difference> DiffFields(const ParameterImage& first, const ParameterImage& second);

// The window's view of a file or a device read: the bytes the controls would hold after
// ApplyImage, built again the way a save or a write builds them.
ParameterImage AsTheWindowBuildsIt(const ParameterImage& parameters);

// What is wrong with one "NAME=VALUE". OutOfRange and NotAPhone are warnings: the window stores
// such a value all the same (an integer's low bits, a phone number's digits and commas alone), so
// a change that gets only warnings is made; what hands one value to many devices refuses them.
struct FieldIssue {
    enum class Kind {
        NotAnAssignment, // no "="
        UnknownField,
        Fixed,      // a check box the window sets by itself after every load
        NotInteger, // breaks the integer text rule
        TooLong,    // more characters than the window's edit takes
        NotYesOrNo, // a check box's value
        NotAnItem,  // a radio group's value
        OutOfRange, // outside the caption's range; stored is what the field then holds
        NotAPhone,  // a phone number with more than digits, commas and the blanks, brackets and
                    // hyphens people type; stored is what the field then holds
    };
    Kind kind;
    std::string assignment; // the whole "NAME=VALUE"
    const FieldSpec* field = nullptr;
    std::string value;
    std::string stored; // OutOfRange, NotAPhone: the value as the window shows it back

    bool warning() const { return kind == Kind::OutOfRange || kind == Kind::NotAPhone; }
};

// One line for the user, naming the field, the value and what was expected.
std::string IssueText(const FieldIssue& issue);

// Applies the assignments to the image as the window would: each value goes into its control
// (a check box takes 1/0, да/нет, true/false, on/off; a radio group its item's name or index),
// then the image is built again. The image changes only when no assignment is refused and, with
// `strict`, none is out of range either. Every issue found, refusals and warnings, in order.
std::vector<FieldIssue> SetFields(ParameterImage& image, std::span<const std::string> assignments,
                                  bool strict);

} // namespace tk7v
