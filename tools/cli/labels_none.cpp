// A build without the labels' drawing (no Qt, no barcode library for its system).
#include "labels_out.h"

namespace tk7v::cli {

void LabelOptions::add(CLI::App* command) {
    command->add_option("--label", folder, "(в этой сборке нет наклеек)")->type_name("ПАПКА");
    command->add_option("--printer", printer, "(в этой сборке нет наклеек)")->type_name("ПРИНТЕР");
}

std::string LabelOptions::prepare(LabelMaker&) const {
    return wanted() ? "наклейки в этой сборке программы не поддерживаются" : std::string();
}

} // namespace tk7v::cli
