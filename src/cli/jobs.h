// The commands' arguments: "-j N", the number of workers of the commands
// that convert many files, and their flags, valued options and operands.
#pragma once

#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/commands.h"
#include "core/ui.h"

namespace vid::cli {

struct JobsArgs {
    unsigned jobs = 1;
    std::vector<std::string> rest;  // the arguments without -j and its number
};

// Takes "-j N" or "-jN" (1 to 256) out of `args`, before any "--"; without
// it, the number of cores. Nothing after a usage error was printed.
std::optional<JobsArgs> take_jobs(Args args, const char* command);

// Runs `convert` on each file on `jobs` workers; the texts of each file
// reach `ui` in the order of the files, as with one worker. The results,
// in the same order.
std::vector<bool> convert_all(Ui& ui, const std::vector<std::string>& files, bool (*convert)(Ui&, const std::string&),
                              unsigned jobs);

// The operands among `args`, the flags of `flags` that were given and the
// values of the options of `values` ("--game FOLDER"); nothing after a
// usage error was printed. "--" ends the options.
std::optional<std::vector<std::string>> operands(
    Args args, const char* command, std::initializer_list<std::pair<const char*, bool*>> flags,
    std::initializer_list<std::pair<const char*, std::string*>> values = {});

}  // namespace vid::cli
