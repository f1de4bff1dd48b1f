// Opening inputs and starting outputs with the program's own messages.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/ui.h"
#include "platform/file.h"
#include "platform/output.h"

namespace vid {

// The text for an input that could not be opened: "%s not found", "%s is a
// folder", "%s is not a regular file" or "%s is a symbolic link that leads
// to no file".
std::string input_error_text(platform::OpenError error, std::string_view path);

// Opens an input for reading. Alerts "%s not found", "%s is a folder" or
// "%s is not a regular file" and returns nothing when it cannot.
std::optional<platform::File> open_input(Ui& ui, const std::string& path);

// Starts an output (see platform::Output). Alerts "Can't create %s",
// "%s is a folder" or "%s is not a regular file" and returns nothing when
// it cannot.
std::optional<platform::Output> create_output(Ui& ui, const std::string& path,
                                              platform::Existing existing = platform::Existing::replace);

// The text for an output that could not be started.
std::string output_error_text(platform::OutputError error, std::string_view path);

// The original that an encoder writes over: the file of `folder` (a folder
// part as platform::split_path() gives it) named `name` in any case (see
// platform::find_name_any_case), as folder + the name on disk; or nothing.
std::optional<std::string> find_any_case(const std::string& folder, std::string_view name);

// Commits an encoder's output. With `keep`, the file that it replaces is
// first kept once as "<name>.orig": given that second name where the
// system can (a hard link: nothing copied), else read through the output's
// hold on it and copied; never when a file of that name exists already
// (the first original is never overwritten); a symbolic link there,
// dangling or not, is replaced by
// the copy, never written through. No copy is made of a file that this
// program wrote itself (two inputs of one stem in one run), and the copy is
// removed again when the replace fails. False after an Alert ("Can't write
// NAME" when the replace fails); the old file is then unchanged.
bool commit_keeping_original(Ui& ui, platform::Output& out, bool keep);

}  // namespace vid
