#pragma once
// Configurations as named fields: what the window would show in each control, the fields in
// which two images differ, and changes by control name under the window's rules.
#include "model/parameter_image.h"

#include <string>
#include <vector>

namespace tk7v::cli {

struct FieldView {
    const FieldSpec* field;
    std::string text; // as the window shows it: digits, an item's name, "да" or "нет"
    bool on = false;  // a check box
};

// Every field of the image, in the layout's order, as the window would show it after a load.
std::vector<FieldView> ViewFields(const ParameterImage& image);

struct Difference {
    std::string name;    // the control's name, or "байт N" for a byte that no field holds
    std::string caption; // empty for a bare byte
    std::string first, second;
};

// Where bytes 0..237 of two images differ, by field. Values as the window shows them; where
// that hides the difference (a check box stored as 1 and as 2), the stored bytes follow.
std::vector<Difference> DiffFields(const ParameterImage& first, const ParameterImage& second);

// Changes "NAME=VALUE" assignments in the image as the window would: the value goes into the
// control (within its length limit; a check box takes 1/0, да/нет; a radio group its item's name
// or index), then the image is built again. The message of the first refused value, with
// nothing changed, or empty.
std::string SetFields(ParameterImage& image, const std::vector<std::string>& assignments);

} // namespace tk7v::cli
