// One station of many: claims COUNT numbers of TS_object_id from the ledger at ADDRESS, one after
// another as devices would, and prints each number given; exit 1 at the first claim that fails.
#include "station/numbering.h"
#include "station/server_ledger.h"

#include "common/startup_image.h"

#include <cstdio>
#include <string>

using namespace tk7v;
using namespace tk7v::station;

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    std::string error;
    const auto ledger = OpenLedger(argv[1], {}, std::chrono::seconds(20), error);
    if (!ledger) return std::fprintf(stderr, "%s\n", error.c_str()), 1;
    const Numbering numbering({}, Counter{"TS_object_id", 1, 999999});
    for (int i = 0; i < std::stoi(argv[2]); ++i) {
        ParameterImage image = test::StartupImage();
        ReportRecord record;
        record.port = "ttyS" + std::to_string(i);
        const Numbering::Claim c = numbering.claim(*ledger, record, image);
        if (c.outcome != Numbering::Claim::Outcome::Given)
            return std::fprintf(stderr, "%s\n", c.error.c_str()), 1;
        std::printf("%s\n", c.given.numbers.at(0).c_str());
    }
    return 0;
}
