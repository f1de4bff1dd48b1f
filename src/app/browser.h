// The browser: a second top-level window, "Vidodide Browser", that shows a
// game folder, a work folder or one archive: a tree of its folders and
// archives, the members of the one selected (a virtual list, sortable, with
// a filter), and a preview of the member selected (a picture drawn, a sound
// drawn and played, a script's listing, the first bytes of anything else),
// decoded off the window's thread. The selected members are extracted as
// they are or saved decoded into a folder. In a work folder each file shows
// what changed since unpack, and Repack... runs as Repack Game does.
#pragma once

#include <windows.h>

#include <string>

namespace vid::app {

// Decode > Browse...: asks for the folder to browse and opens it.
void browse(HWND main);

// Opens `path` (a folder, or an FL3 archive) in the browser window, making
// the window when there is none; `main` is the program's main window.
void open_in_browser(HWND main, const std::string& path);

}  // namespace vid::app
