#include "cli/commands.h"

namespace vid::cli {

int decode_bm2(ConsoleUi&, Args) { return not_built("decode-bm2"); }

}  // namespace vid::cli
