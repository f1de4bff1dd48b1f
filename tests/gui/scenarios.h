// GUI scenarios: each drives a fresh Vidodide.exe and checks what a person
// would see and what lands on disk.
#pragma once

#include <windows.h>

#include <string>

namespace gui {

// Item positions in the menus, as the keyboard reaches them: Alt+D opens
// Decode on "Extract FL3" (0) and Alt+E opens Encode on "Encode FL3" (0);
// separators are skipped.
namespace menu {
constexpr int kDecodeBm2 = 1, kDecodeWv5 = 2, kDecodeAb = 3, kDecodeBm2Png = 4, kExportTexts = 5, kUnpackGame = 6,
              kBrowse = 7;
constexpr int kEncodeAb = 1, kEncodeBm2 = 2, kImportTexts = 4, kRepackGame = 5, kApplyPatch = 6, kUndoPatch = 7;
}  // namespace menu
using namespace menu;

// How the status line draws the mod project's texts (wrapped).
constexpr UINT kWrapped = DT_WORDBREAK | DT_EDITCONTROL;

// Test bookkeeping: "ok - NAME" / "FAIL - NAME: WHY" lines, counted.
struct Report {
    int passed = 0;
    int failed = 0;
    void check(bool ok, const std::string& name, const std::string& why = {});
};
Report& report();
#define GUI_CHECK(cond, name) ::gui::report().check((cond), (name), #cond)

struct Env {
    std::string exe;   // Vidodide.exe (Windows path)
    std::string work;  // a scratch folder of the scenario (Windows path)
    std::string shots; // where screenshots go
};

struct Scenario {
    const char* name;
    void (*run)(const Env&);
    bool in_all;  // false for the benchmarks, which run only by name
};

// Registers a scenario at start-up.
struct Register {
    Register(const char* name, void (*run)(const Env&), bool in_all = true);
};

// The folder dialog (the file dialog picking folders): the folder's path is
// typed into its name box; with `shot`, a screenshot of the dialog first.
bool choose_folder(const char* title, const std::string& folder, const std::string& shot);

}  // namespace gui
