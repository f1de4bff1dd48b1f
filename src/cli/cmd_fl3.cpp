#include "cli/commands.h"

namespace vid::cli {

int extract_fl3(ConsoleUi&, Args) { return not_built("extract-fl3"); }
int encode_fl3(ConsoleUi&, Args) { return not_built("encode-fl3"); }

}  // namespace vid::cli
