// The command line's commands, one per menu command of the program.
//
// Each takes the arguments after its name and returns the exit status:
// 0 when every file succeeded, 1 when any failed, 2 for a usage error.
#pragma once

#include <span>
#include <string>

#include "cli/console_ui.h"
#include "formats/kinds.h"

namespace vid::cli {

using Args = std::span<const std::string>;

int extract_fl3(ConsoleUi& ui, Args args);
int encode_fl3(ConsoleUi& ui, Args args);
// decode-KIND and encode-KIND for every kind of the table (src/formats),
// with the options of some: decode-bm2 --png, decode-ab --tree, --utf8.
int decode_kind(ConsoleUi& ui, Args args, const formats::KindRow& kind);
int encode_kind(ConsoleUi& ui, Args args, const formats::KindRow& kind);
int export_text(ConsoleUi& ui, Args args);
int import_text(ConsoleUi& ui, Args args);
int find_text(ConsoleUi& ui, Args args);
int list_fl3(ConsoleUi& ui, Args args);
int unpack(ConsoleUi& ui, Args args);
int status(ConsoleUi& ui, Args args);
int repack(ConsoleUi& ui, Args args);
int apply_patch(ConsoleUi& ui, Args args);

// Prints "vidodide: MESSAGE" and a one-line hint on standard error and
// returns the usage-error status 2.
int usage_error(const std::string& message);

// For a command whose converter is not part of this build yet.
int not_built(const char* command);

}  // namespace vid::cli
