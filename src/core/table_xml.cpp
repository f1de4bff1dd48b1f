#include "core/table_xml.h"

#include <expat.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <new>

#include "core/text.h"

namespace vid {

namespace {

constexpr int kChunk = 1 << 16;

std::string_view local_name(const char* name) {
    std::string_view n(name);
    const std::size_t colon = n.rfind(':');
    return colon == std::string_view::npos ? n : n.substr(colon + 1);
}

}  // namespace

const char* xml_attribute(const char** attributes, std::string_view name) {
    for (const char** a = attributes; *a != nullptr; a += 2)
        if (local_name(a[0]) == name) return a[1];
    return nullptr;
}

struct XmlPart::Impl {
    Impl(XmlPart& o, ZipReader& z, XmlHandler& h) : owner(o), zip(z), handler(h) {}

    XmlPart& owner;
    ZipReader& zip;
    XmlHandler& handler;
    XML_Parser parser = nullptr;
    unsigned depth = 0;
    std::uint64_t since = 0;  // bytes fed since the parser last handed anything out
    bool suspended = false, final_fed = false, finished = false;
    bool failing = false;
    std::string failure;
    std::exception_ptr thrown;

    // Runs a handler: what it throws is kept and thrown again out of run(),
    // never through expat.
    template <class F>
    static void guarded(void* user, F f) {
        auto* self = static_cast<Impl*>(user);
        self->since = 0;
        if (self->failing || self->thrown) return;
        try {
            f(*self);
        } catch (...) {
            self->thrown = std::current_exception();
            XML_StopParser(self->parser, XML_FALSE);
        }
    }

    static void on_start(void* user, const XML_Char* name, const XML_Char** attributes) {
        guarded(user, [&](Impl& self) {
            if (++self.depth > self.zip.limits().depth) {
                self.owner.fail(format("%s: its part %s holds elements more than %s deep, the most that is read",
                                       {self.zip.path(), self.zip.part(), std::to_string(self.zip.limits().depth)}));
                return;
            }
            self.handler.start(local_name(name), attributes);
        });
    }
    static void on_end(void* user, const XML_Char* name) {
        guarded(user, [&](Impl& self) {
            --self.depth;
            self.handler.end(local_name(name));
        });
    }
    static void on_text(void* user, const XML_Char* text, int size) {
        guarded(user, [&](Impl& self) { self.handler.text({text, static_cast<std::size_t>(size)}); });
    }
    static void on_other(void* user, const XML_Char*) {
        guarded(user, [](Impl&) {});
    }
    static void on_instruction(void* user, const XML_Char*, const XML_Char*) {
        guarded(user, [](Impl&) {});
    }
    static void on_doctype(void* user, const XML_Char*, const XML_Char*, const XML_Char*, int) {
        guarded(user, [](Impl& self) {
            self.owner.fail(format("%s: its part %s holds a document type declaration, which no spreadsheet writes",
                                   {self.zip.path(), self.zip.part()}));
        });
    }
};

XmlPart::XmlPart(ZipReader& zip, XmlHandler& handler) : impl_(new Impl(*this, zip, handler)) {
    handler.parser = this;
    impl_->parser = XML_ParserCreate(nullptr);
    if (impl_->parser == nullptr) {
        delete impl_;
        throw std::bad_alloc();
    }
    XML_SetUserData(impl_->parser, impl_);
    XML_SetElementHandler(impl_->parser, Impl::on_start, Impl::on_end);
    XML_SetCharacterDataHandler(impl_->parser, Impl::on_text);
    XML_SetCommentHandler(impl_->parser, Impl::on_other);
    XML_SetProcessingInstructionHandler(impl_->parser, Impl::on_instruction);
    XML_SetStartDoctypeDeclHandler(impl_->parser, Impl::on_doctype);
    XML_SetParamEntityParsing(impl_->parser, XML_PARAM_ENTITY_PARSING_NEVER);
}

XmlPart::~XmlPart() {
    XML_ParserFree(impl_->parser);
    delete impl_;
}

void XmlPart::pause() { XML_StopParser(impl_->parser, XML_TRUE); }

void XmlPart::fail(std::string why) {
    if (impl_->failing) return;
    impl_->failing = true;
    impl_->failure = std::move(why);
    XML_StopParser(impl_->parser, XML_FALSE);
}

XmlPart::Result XmlPart::run() {
    Impl& m = *impl_;
    if (!error_.empty()) return Result::failed;
    for (;;) {
        if (m.finished) return Result::done;
        XML_Status status;
        if (m.suspended) {
            m.suspended = false;
            status = XML_ResumeParser(m.parser);
        } else {
            // Pieces no larger than a tag may be, so that one held whole
            // is seen before it is twice that size.
            const int chunk = static_cast<int>(std::min<std::uint64_t>(kChunk, std::max<std::uint64_t>(m.zip.limits().tag, 1)));
            void* buffer = XML_GetBuffer(m.parser, chunk);
            if (buffer == nullptr) throw std::bad_alloc();
            const long n = m.zip.read(static_cast<char*>(buffer), static_cast<std::size_t>(chunk));
            if (n < 0) {
                error_ = m.zip.error();
                return Result::failed;
            }
            m.final_fed = n == 0;
            m.since += static_cast<std::uint64_t>(n);
            status = XML_ParseBuffer(m.parser, static_cast<int>(n), n == 0);
        }
        if (m.thrown) std::rethrow_exception(m.thrown);
        if (m.failing) {
            error_ = m.failure;
            return Result::failed;
        }
        if (status == XML_STATUS_ERROR) {
            if (XML_GetErrorCode(m.parser) == XML_ERROR_NO_MEMORY) throw std::bad_alloc();
            error_ = format("%s is damaged: its part %s is not well-formed XML (%s, line %s)",
                            {m.zip.path(), m.zip.part(), XML_ErrorString(XML_GetErrorCode(m.parser)),
                             std::to_string(XML_GetCurrentLineNumber(m.parser))});
            return Result::failed;
        }
        if (status == XML_STATUS_SUSPENDED) {
            m.suspended = true;
            return Result::paused;
        }
        if (m.final_fed) {
            m.finished = true;
            return Result::done;
        }
        if (m.since > m.zip.limits().tag) {
            error_ = format("%s: its part %s holds a tag of more than %s bytes, the most that is read",
                            {m.zip.path(), m.zip.part(), std::to_string(m.zip.limits().tag)});
            return Result::failed;
        }
    }
}

void append_xml(std::string& out, std::string_view text) {
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
}

std::string xml_cannot_hold(std::string_view text, bool controls) {
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == 0) return "it holds a zero byte";
        if (c < 0x20 && c != '\t' && c != '\n' && !controls) {
            char code[16];
            std::snprintf(code, sizeof code, "U+%04X", c);
            return format("it holds the control character %s", {code});
        }
        // The length of the sequence and the smallest code point it may hold.
        std::size_t n = 1;
        unsigned point = c, least = 0;
        if (c >= 0xF0 && c < 0xF5) n = 4, point = c & 0x07u, least = 0x10000;
        else if (c >= 0xE0 && c < 0xF0) n = 3, point = c & 0x0Fu, least = 0x800;
        else if (c >= 0xC2 && c < 0xE0) n = 2, point = c & 0x1Fu, least = 0x80;
        else if (c >= 0x80) return "it is not UTF-8 text";
        if (i + n > text.size()) return "it is not UTF-8 text";
        for (std::size_t k = 1; k < n; ++k) {
            const auto b = static_cast<unsigned char>(text[i + k]);
            if ((b & 0xC0) != 0x80) return "it is not UTF-8 text";
            point = point << 6 | (b & 0x3Fu);
        }
        if (point < least || point > 0x10FFFF || (point >= 0xD800 && point < 0xE000)) return "it is not UTF-8 text";
        if (point == 0xFFFE || point == 0xFFFF) {
            char code[16];
            std::snprintf(code, sizeof code, "U+%04X", point);
            return format("it holds %s, which is no character", {code});
        }
        i += n;
    }
    return {};
}

}  // namespace vid
