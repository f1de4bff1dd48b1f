#include "cli/commands.h"

namespace vid::cli {

int decode_wv5(ConsoleUi&, Args) { return not_built("decode-wv5"); }

}  // namespace vid::cli
