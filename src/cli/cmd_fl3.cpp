#include "cli/commands.h"
#include "core/batch.h"
#include "fl3/fl3.h"

namespace vid::cli {

int extract_fl3(ConsoleUi& ui, Args args) {
    if (args.empty()) return usage_error("extract-fl3 takes one or more ARCHIVEs");
    BatchTally tally;
    for (const std::string& archive : args) tally.add(fl3::extract(ui, archive));
    if (args.size() > 1) ui.status(tally.final_text("Extracting OK", "Extracting"), Draw::later);
    return tally.all_ok() ? 0 : 1;
}

int encode_fl3(ConsoleUi& ui, Args args) {
    if (args.size() != 2) return usage_error("encode-fl3 takes an INDEX and an ARCHIVE");
    auto index = fl3::load_index(ui, args[0]);
    if (!index) return 1;
    return fl3::compact(ui, *index, args[1]) ? 0 : 1;
}

}  // namespace vid::cli
