// Text between a Windows code page and UTF-8, through the system's own
// conversion tables: iconv on Linux, MultiByteToWideChar and
// WideCharToMultiByte on Windows. The program has no table of its own.
#pragma once

#include <string>
#include <string_view>

namespace vid::platform {

// Converts between one code page and UTF-8. Conversions are strict: a byte
// sequence that is not valid in the source, or a character that the target
// cannot hold, fails the whole conversion (no replacement characters, no
// best-fit mapping).
class Codepage {
public:
    // 932, 1252, 65001 (UTF-8) and whatever else the system knows.
    explicit Codepage(unsigned number);
    Codepage(const Codepage&) = delete;
    Codepage& operator=(const Codepage&) = delete;
    ~Codepage();

    // False when the system does not know the code page.
    bool supported() const;
    unsigned number() const { return number_; }

    // The code page's bytes `in` as UTF-8 into `out`; false when `in` is not
    // valid in the code page (out then holds nothing useful).
    bool to_utf8(std::string_view in, std::string& out);
    // UTF-8 text `in` as the code page's bytes into `out`; false when `in`
    // is not valid UTF-8 or holds a character the code page cannot hold.
    bool from_utf8(std::string_view in, std::string& out);

private:
    // Sets ascii_; called once the system's converters are open.
    void find_ascii();
    // Converts `in` alone; the system's tables, no shortcut.
    bool system_to_utf8(std::string_view in, std::string& out);
    bool system_from_utf8(std::string_view in, std::string& out);

    unsigned number_;
    // The code page holds ASCII as ASCII (found out from the system's own
    // tables when the code page is opened): then ASCII text is copied as it stands.
    bool ascii_ = false;
    void* to_ = nullptr;    // iconv handles (unused on Windows)
    void* from_ = nullptr;
    bool ok_ = false;
};

// A file name as the system gives it, as UTF-8 (on Windows names come in
// the ANSI code page; elsewhere they are taken as they stand).
std::string name_to_utf8(std::string_view name);

}  // namespace vid::platform
