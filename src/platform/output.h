// Writing a file without risking what is already on disk.
//
// Every file the program writes is first written as a new temporary file
// beside its final name and moved onto that name only when it is complete.
// What is on disk is never opened for writing: a link in the way is never
// written through, an old file stays byte-identical until the new one
// replaces it whole, and a run that fails or is interrupted (Ctrl-C,
// SIGTERM, SIGHUP, SIGQUIT, the console closed) leaves no temporary file behind.
// Temporary files are named "~vd<number>-<number>.tmp": recognisable, and
// created only where no file of that name exists.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/file.h"

namespace vid::platform {

// How an output treats what already stands at its final name.
enum class Existing {
    // A name the program makes itself (members, _index.bin, bitmaps, WAV
    // files, listings): a regular file there is replaced and its
    // permissions kept; a symbolic or hard link there is replaced by the
    // new file, its target left untouched.
    replace,
    // A name the user chose (the archive of Encode FL3): as `replace`, but
    // a symbolic link is followed and its target replaced; the link stays.
    replace_target,
    // Never replace anything (Encode AB): any file or link there refuses.
    keep,
};

// Why an output could not be started.
enum class OutputError {
    none,
    cant_create,  // no temporary file beside it (read-only folder, no folder...),
                  // the name is taken (Existing::keep), or another program holds the old file
    folder,       // a folder stands at the final name
    not_regular,  // a FIFO, device or socket stands at the final name
};

class Output {
public:
    // Starts an output for `final_path`: checks what stands there, holds an
    // old file that will be replaced (so that no other program can take it
    // meanwhile) and creates the temporary file. Nothing on disk changes
    // but the new temporary file.
    static std::optional<Output> create(const std::string& final_path, Existing existing,
                                        OutputError* why = nullptr);

    Output(Output&& other) noexcept;
    Output& operator=(Output&& other) noexcept;
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;
    // Discards the output unless it was committed.
    ~Output();

    // The temporary file to write (and seek in).
    File& file() { return file_; }
    // The name the output will have: for Existing::replace_target and a
    // symbolic link, the link's target.
    const std::string& final_path() const { return final_; }
    // The identity of the old file that commit() will replace, if any.
    std::optional<FileId> replaced() const { return replaced_; }
    // The old file as held open for reading, or nothing (no old file, or a
    // hard link whose name alone is replaced).
    File* old_file() { return hold_.is_open() ? &hold_ : nullptr; }

    // A second handle on the temporary file, for reading back what is
    // written so far (from another thread as well); close it before
    // commit(). Nothing when the system refuses one.
    std::optional<File> reader() const;

    // Closes the temporary file and moves it onto the final name (keeping
    // the old file's permissions). False when any write failed or the move
    // was refused; the old file is then unchanged and the temporary file
    // removed.
    bool commit();
    // Removes the temporary file; the old file is unchanged.
    void discard();

private:
    Output() = default;

    std::string final_;
    std::string temp_;
    File file_;
    File hold_;  // the old file, held without sharing until it is replaced
    Existing existing_ = Existing::replace;
    std::optional<FileId> replaced_;
    std::optional<std::uint32_t> mode_;  // the old file's permissions (Windows: read-only, hidden, system)
    int slot_ = -1;                      // place in the interrupt clean-up list
};

}  // namespace vid::platform
