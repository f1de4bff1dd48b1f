// vidodide decode-bm2 FILE...: BM2 images to bitmap files.
#include "bm2/bm2.h"
#include "cli/commands.h"
#include "core/batch.h"

namespace vid::cli {

int decode_bm2(ConsoleUi& ui, Args args) {
    if (args.empty()) return usage_error("decode-bm2 needs at least one FILE");
    BatchTally tally;
    for (const std::string& path : args) tally.add(bm2::decode_file(ui, path));
    ui.status(tally.final_text("Decoding OK", "Decoding"), Draw::later);
    return tally.all_ok() ? 0 : 1;
}

}  // namespace vid::cli
