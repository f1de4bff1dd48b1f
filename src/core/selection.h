// The open-file dialog's answer with multiple selection, taken apart.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vid {

struct Selection {
    std::vector<std::string> paths;  // full paths, in the dialog's order
    bool single = false;             // the dialog returned exactly one file
    std::string folder;              // the folder of a multi-file answer
    bool cut = false;                // the answer is not terminated within the buffer
    bool last_cut = false;           // its last path has no terminating zero (cut short)
};

// The dialog's buffer holds either one zero-terminated full path followed
// by a second zero, or a folder and then each file name, each
// zero-terminated, the list ending with an empty string. Folder and name are
// joined with one backslash, even after a drive's root folder ("C:\" gives
// "C:\\name"). Nothing past the end of `buffer` is read; a list that is not
// terminated within it ends there.
Selection walk_selection(std::span<const char> buffer);

// The names that the dialog's file-name box held, as captured while the
// selection changed: each name in double quotes, separated by single spaces
// ("\"a.wv5\" \"b.wv5\""). A text that does not begin with a quote is a
// single name and is taken whole. The list ends at the first empty name.
std::vector<std::string> split_quoted_names(std::string_view text);

// The status text when the dialog's answer did not fit the selection
// buffer: the size the dialog left in the buffer's first two bytes and the
// size of the buffer.
std::string buffer_too_small_text(std::span<const char> buffer);

// What a selection hook copied from the dialog while the selection changed:
// the file-name box's text (quoted names) and the folder.
struct CapturedSelection {
    std::string names;
    std::string folder;
};

// The captured names joined to the captured folder with one backslash.
std::vector<std::string> captured_paths(const CapturedSelection& capture);

// True when the dialog's answer for the captured selection of several files
// needs more than `buffer_size` bytes: the folder, each name, each with its
// terminating zero, and the final zero. Some dialogs then cut the list to
// the buffer and report success; the captured copy is the complete one.
bool capture_exceeds(const CapturedSelection& capture, std::size_t buffer_size);

// True when the captured selection is the complete form of the dialog's
// `answer`: it exceeds `buffer_size`, and the answer is its beginning (the
// same folder and the same first names, the last one possibly cut short).
// A capture left over from an earlier selection is never taken for the
// names the user finally chose.
bool capture_completes(const Selection& answer, const CapturedSelection& capture, std::size_t buffer_size);

// What a batch command converts, from the dialog's answer and what the
// selection hook captured (nullptr: nothing).
struct BatchFiles {
    std::vector<std::string> paths;
    bool single = false;     // one file chosen
    std::size_t left_out = 0;  // files chosen that are not in `paths`
    bool count_known = true;   // false: `left_out` is 1 and stands for "some"
};

// The dialog succeeded: the capture when it completes a cut answer;
// otherwise the answer, less a last path cut short, the files left out
// counted from the capture when it holds more names than that.
BatchFiles files_of_answer(const Selection& answer, const CapturedSelection* capture, std::size_t buffer_size);

// The dialog failed because the selection does not fit the buffer: the
// captured names, or nothing (every file left out, how many unknown).
BatchFiles files_of_too_long(const CapturedSelection* capture);

// The Alert for files left out of a batch.
std::string left_out_text(const BatchFiles& files);

}  // namespace vid
