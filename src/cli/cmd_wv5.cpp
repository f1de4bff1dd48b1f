// vidodide decode-wv5 FILE...: WV5 sounds to WAV files.
#include "cli/commands.h"
#include "core/batch.h"
#include "wv5/wv5.h"

namespace vid::cli {

int decode_wv5(ConsoleUi& ui, Args args) {
    if (args.empty()) return usage_error("decode-wv5 needs at least one FILE");
    BatchTally tally;
    for (const std::string& path : args) tally.add(wv5::decode_file(ui, path));
    ui.status(tally.final_text("Decoding OK", "Decoding"), Draw::later);
    return tally.all_ok() ? 0 : 1;
}

}  // namespace vid::cli
