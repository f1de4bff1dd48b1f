// The "Scripting" dialog (template 129): a single-file Decode AB or Encode
// AB runs its whole job inside the dialog's initialisation and shows every
// item in the dialog's tree view.
#pragma once

#include <string>

#include "app/window_ui.h"

namespace vid::app {

enum class ScriptJob { decode, encode };

// The per-file converter with the dialog: the progress text, the dialog,
// then the result text. True when the job succeeded.
bool run_scripting(WindowUi& ui, const std::string& path, ScriptJob job);

}  // namespace vid::app
