#pragma once
// A configuration as text: the object `show --json` prints (name -> {caption, value, hidden}, or
// name -> value) turned back into assignments, which the field rules then apply as `set` does.
#include "model/parameter_image.h"

#include <string>
#include <vector>

namespace tk7v::station {

struct JsonAssignments {
    std::vector<std::string> assignments; // "NAME=VALUE", for SetFields
    std::string error;                    // the first refusal, naming the field; empty when none
};

// Every field as the window would show it: name -> {caption, value, hidden}, the value a string,
// or true/false for a check box. What AssignmentsFromJson takes back.
std::string ConfigJson(const ParameterImage& image);

// Numbers may be JSON numbers or strings; a check box takes true/false (or what `set` takes). A
// field the window never lets the user change (a hidden one, or a check box it sets itself) may
// appear only with the value it has in `current`, as `show --json` prints it: it is left out
// then, and refused when it would change.
JsonAssignments AssignmentsFromJson(const std::string& text, const ParameterImage& current);

} // namespace tk7v::station
