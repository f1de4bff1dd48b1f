// The Ui port: everything a job may ask of its surroundings.
//
// A job never shows anything itself. It replaces the status line (drawn at
// once for a progress text, or when the message loop next runs for a final
// text), shows "Alert" boxes owned by whoever is the current owner, and adds
// nodes to the listing view when one is open. The GUI implements this with
// the real window, the command line prints, and tests record.
#pragma once

#include <string>
#include <string_view>

namespace vid {

enum class Draw {
    now,    // progress text: drawn before the job goes on
    later,  // final text: drawn when control is back in the message loop
    result, // one item's result in a long run (drawn at once like progress):
            // the Windows program also shows them together when the run ends
};

class Ui {
public:
    virtual ~Ui() = default;

    // Replaces the status line with `text`.
    virtual void status(std::string_view text, Draw draw) = 0;

    // Shows an "Alert" box (stop icon, OK button) with `text`. "\n" in the
    // text is a line break.
    virtual void alert(std::string_view text) = 0;

    // Adds a node to the listing view, if one is open: level 1 at the root,
    // level 2 under the latest level-1 node. `text` is already cut to the
    // view's limit by the caller.
    virtual void add_node(std::string_view text, int level) {
        (void)text;
        (void)level;
    }

    // True while a listing view is open (a single-file Scripting dialog).
    virtual bool has_listing_view() const { return false; }
    // True on the command line, where a message may name the file and the
    // command-line option it is about.
    virtual bool is_console() const { return false; }
};

// A Ui that tells nothing: for work whose texts nobody is to see (a
// decoder's item writer asks only whether there is a listing view).
class SilentUi : public Ui {
public:
    void status(std::string_view, Draw) override {}
    void alert(std::string_view) override {}
};

}  // namespace vid
