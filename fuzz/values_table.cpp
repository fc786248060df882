// A values table of any bytes: it is read or refused with a message, every row of a table with a
// port column names its port (a list's rows name none), and every row's values go through the
// field rules.
#include "station/values_table.h"
#include "model/field_rules.h"

#include <algorithm>
#include <cstdlib>
#include <string>

using namespace tk7v;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const station::ValuesTable table = station::ReadValuesTable(text);
    if (!table.error.empty()) return 0;
    for (const station::ValuesRow& row : table.rows) {
        if (!table.list && row.port.empty()) std::abort();
        ParameterImage image = StartupImage();
        SetFields(image, row.assignments, false);
    }
    return 0;
}
