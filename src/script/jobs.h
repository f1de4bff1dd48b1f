// Decode AB and Encode AB: the jobs over one file, and the per-file
// converters that run them without the Scripting dialog.
//
// The Scripting dialog (one chosen file) runs decode_job or encode_job from
// its initialisation, with a Ui whose listing view is the dialog's tree, and
// then writes the same status texts as the converters below.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/ui.h"

namespace vid::script {

// "Scripting %s" and its results "Scripting OK" / "Scripting %s failed".
std::string decode_progress_text(std::string_view script_path);
std::string decode_result_text(std::string_view script_path, bool ok);
// "EnScripting %s" and its results "EnScripting OK" / "EnScripting %s failed".
std::string encode_progress_text(std::string_view listing_path);
std::string encode_result_text(std::string_view listing_path, bool ok);

// The listing of a script: its path with the last two characters replaced
// by "txt" (scene01.ab -> scene01.txt); nullopt for a shorter path.
std::optional<std::string> listing_name(std::string_view script_path);
// The AB file of a listing: its path with the last three characters
// replaced by "ab" (scene01.txt -> scene01.ab); nullopt for a shorter path.
std::optional<std::string> script_name(std::string_view listing_path);

// Writes the listing of the script at `script_path` beside it, replacing an
// older one, and adds every item to the listing view when the Ui has one.
// Failures are reported through ui.alert(); notices about a listing that
// will not encode back to the same bytes are Alerts too but do not fail the
// job. True when the listing was written.
// With `utf8`, the listing's values are converted from the game's code
// page to UTF-8 (values not valid in it stay as they are, with an Alert).
bool decode_job(Ui& ui, const std::string& script_path, bool utf8);
bool decode_job(Ui& ui, const std::string& script_path);

// Compiles the listing at `listing_path` into a new AB file beside it,
// never replacing one, and adds every item to the listing view when the Ui
// has one. The AB file is left only when the whole listing was encoded and
// written. True on success.
// Text lines that look as if an editor broke their code page get one
// Alert (the AB file is written all the same). With `utf8`, the listing
// is read as UTF-8 and converted to the game's code page; a line that the
// code page cannot hold is refused.
bool encode_job(Ui& ui, const std::string& listing_path, bool utf8);
bool encode_job(Ui& ui, const std::string& listing_path);

// The per-file converters without the dialog: progress text (drawn now),
// the job, result text (drawn now). True when the job succeeded.
bool decode_file(Ui& ui, const std::string& script_path);
bool encode_file(Ui& ui, const std::string& listing_path);
// The same with listings whose texts are in UTF-8 (decode-ab --utf8, encode-ab --utf8).
bool decode_file_utf8(Ui& ui, const std::string& script_path);
bool encode_file_utf8(Ui& ui, const std::string& listing_path);

}  // namespace vid::script
