#include "cli/commands.h"

namespace vid::cli {

int decode_ab(ConsoleUi&, Args) { return not_built("decode-ab"); }
int encode_ab(ConsoleUi&, Args) { return not_built("encode-ab"); }

}  // namespace vid::cli
