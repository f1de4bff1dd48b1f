#include "app/scripting.h"

#include "app/shell.h"
#include "core/files.h"
#include "core/text.h"
#include "platform/file.h"
#include "resources/resource.h"
#include "script/jobs.h"

namespace vid::app {

namespace {

// The listing view is filled by the job as one batch and drawn once when it
// is full, before the dialog is first shown. A tree view that may redraw
// updates its scroll bars and invalidates itself for every inserted node,
// which costs far more than the insertion: a script of tens of thousands of
// items took seconds instead of a fraction of one. Every item is still
// inserted, with the same text, in the same place.
class Fill {
public:
    explicit Fill(WindowUi& ui) : ui_(ui) { ui_.begin_fill(); }
    ~Fill() { ui_.end_fill(); }
    Fill(const Fill&) = delete;
    Fill& operator=(const Fill&) = delete;

private:
    WindowUi& ui_;
};

struct DialogRun {
    WindowUi* ui;
    const std::string* path;
    ScriptJob job;
    bool ok = false;
};

INT_PTR CALLBACK scripting_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_INITDIALOG: {
            auto* run = reinterpret_cast<DialogRun*>(lparam);
            run->ui->enter_dialog(dialog, nullptr);
            if (!open_input(*run->ui, *run->path)) return FALSE;
            HWND tree = GetDlgItem(dialog, IDC_TREE1);
            SendMessageA(tree, CCM_SETUNICODEFORMAT, 1, 0);
            run->ui->enter_dialog(dialog, tree);
            Fill fill(*run->ui);
            run->ok = run->job == ScriptJob::decode ? script::decode_job(*run->ui, *run->path)
                                                    : script::encode_job(*run->ui, *run->path);
            return TRUE;
        }
        case WM_COMMAND: return end_on_ok_or_cancel(dialog, wparam);
        default: return FALSE;
    }
}

}  // namespace

bool run_scripting(WindowUi& ui, const std::string& path, ScriptJob job) {
    const bool decode = job == ScriptJob::decode;
    ui.status(decode ? script::decode_progress_text(path) : script::encode_progress_text(path), Draw::now);
    DialogRun run{&ui, &path, job};
    INT_PTR result = DialogBoxParamA(shell().instance, MAKEINTRESOURCEA(IDD_SCRIPTING), ui.main(), scripting_proc,
                                     reinterpret_cast<LPARAM>(&run));
    ui.leave_dialog();
    const bool ok = result != -1 && run.ok;
    ui.status(decode ? script::decode_result_text(path, ok) : script::encode_result_text(path, ok), Draw::now);
    return ok;
}

}  // namespace vid::app
