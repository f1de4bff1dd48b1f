// What a batch of per-file conversions tells the user when it is done.
#pragma once

#include <string>
#include <string_view>

namespace vid {

// Counts the files of one batch command and their failures.
class BatchTally {
public:
    void add(bool ok) {
        ++files_;
        if (!ok) ++failed_;
    }
    int files() const { return files_; }
    int failed() const { return failed_; }
    bool all_ok() const { return failed_ == 0; }

    // `ok_text` ("Decoding OK") when every file succeeded, otherwise for
    // example "Decoding: 2 of 5 files failed" with `verb` "Decoding".
    std::string final_text(std::string_view ok_text, std::string_view verb) const;

private:
    int files_ = 0;
    int failed_ = 0;
};

}  // namespace vid
