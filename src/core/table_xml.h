// The XML parts of XLSX and ODS tables: read through expat a piece at a
// time, within SheetLimits; written with the escapes that XML needs.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/table_zip.h"

namespace vid {

class XmlPart;

// Element and attribute names reach the handler without their prefix
// ("table:table-cell" as "table-cell"): the formats' names do not clash.
class XmlHandler {
public:
    virtual ~XmlHandler() = default;
    // `attributes`: name, value, name, value, ..., then nullptr.
    virtual void start(std::string_view name, const char** attributes) = 0;
    virtual void end(std::string_view name) = 0;
    virtual void text(std::string_view text) = 0;

    // The parser that feeds the handler (set by it), to pause or fail.
    XmlPart* parser = nullptr;
};

// The value of the attribute of local name `name`, or nullptr.
const char* xml_attribute(const char** attributes, std::string_view name);

// Parses the part of `zip` that has been started, feeding `handler`.
class XmlPart {
public:
    XmlPart(ZipReader& zip, XmlHandler& handler);
    ~XmlPart();
    XmlPart(const XmlPart&) = delete;
    XmlPart& operator=(const XmlPart&) = delete;

    enum class Result { paused, done, failed };
    // Parses until the handler pauses, the part ends or it fails (error()).
    Result run();
    // From a handler: run() returns `paused` once the current element is
    // handled; the next run() goes on from there.
    void pause();
    // From a handler: stops parsing; run() returns `failed` with `why`.
    void fail(std::string why);
    const std::string& error() const { return error_; }

    struct Impl;

private:
    Impl* impl_;
    std::string error_;
};

// `text` with &, <, > and (for attributes) " escaped.
void append_xml(std::string& out, std::string_view text);
// Why an XML part cannot hold `text`: it is not UTF-8, or holds a
// character that XML 1.0 has no place for (a zero byte, U+FFFE, U+FFFF,
// and, unless `controls`, the control characters other than tab and line
// feed); empty
// when it can.
std::string xml_cannot_hold(std::string_view text, bool controls);

}  // namespace vid
