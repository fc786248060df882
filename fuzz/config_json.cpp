// Configuration text of any bytes: refused with a message naming what is wrong, or turned into
// assignments that the field rules then take or refuse; a refusal leaves the image as it was.
#include "station/config_json.h"
#include "model/field_rules.h"

#include <cstdlib>
#include <string>

using namespace tk7v;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ParameterImage start = StartupImage();
    const station::JsonAssignments a =
        station::AssignmentsFromJson(std::string(reinterpret_cast<const char*>(data), size), start);
    if (!a.error.empty()) return 0;
    ParameterImage image = start;
    const auto issues = SetFields(image, a.assignments, true);
    if (!issues.empty() && image != start) std::abort();
    return 0;
}
