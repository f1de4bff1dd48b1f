// The zip container of XLSX and ODS tables, through minizip on the
// program's own files (platform::File): read part by part within
// SheetLimits, written entry by entry.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/table_sheet.h"
#include "platform/file.h"

namespace vid {

// Reads the parts of a zip, one at a time. Every failure leaves its Alert
// text in error(), which names the file (and the part).
class ZipReader {
public:
    // `path` and `kind` ("XLSX", "ODS") are for the messages.
    ZipReader(platform::File& file, std::uint64_t size, std::string path, std::string_view kind,
              const SheetLimits& limits);
    ~ZipReader();
    ZipReader(const ZipReader&) = delete;
    ZipReader& operator=(const ZipReader&) = delete;

    // False when the zip's directory could not be read (error()).
    bool ok() const { return handle_ != nullptr; }
    // Whether the zip holds `part` (names compared in any case, as parts
    // of a package are).
    bool has(std::string_view part);
    // Starts reading `part`; false with error() when it is not there, is
    // encrypted, compressed by another method than deflate, or says it
    // inflates to more than the limit of a part.
    bool start(std::string_view part);
    // Up to `n` bytes of the part started; 0 at its end (its check sum
    // then checked), -1 after error().
    long read(char* out, std::size_t n);
    const std::string& error() const { return error_; }
    const std::string& path() const { return path_; }
    const std::string& part() const { return part_; }
    const SheetLimits& limits() const { return limits_; }

    struct Source;

private:
    std::unique_ptr<Source> source_;
    void* handle_ = nullptr;
    std::string path_, kind_, part_, error_;
    SheetLimits limits_;
    std::uint64_t inflated_ = 0;
    bool reading_ = false;
};

// Writes a zip entry by entry into `file` (a new output's temporary file).
class ZipWriter {
public:
    explicit ZipWriter(platform::File& file);
    ~ZipWriter();
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;

    // Starts an entry, deflated or (`store`) stored as it is.
    bool begin(std::string_view name, bool store = false);
    bool write(std::string_view data);
    bool end();
    // Writes the zip's directory; false when anything failed.
    bool close();

    struct Sink;

private:
    std::unique_ptr<Sink> sink_;
    void* handle_ = nullptr;
    bool failed_ = false;
};

}  // namespace vid
