#include "core/table_zip.h"

#include <minizip/unzip.h>
#include <minizip/zip.h>

#include <algorithm>
#include <cstring>
#include <limits>

#include "core/text.h"

namespace vid {

namespace {

std::string bytes_text(std::uint64_t n) {
    if (n >= (std::uint64_t{1} << 20) && n % (std::uint64_t{1} << 20) == 0)
        return format("%s MiB (%s bytes)", {std::to_string(n >> 20), std::to_string(n)});
    return format("%s bytes", {std::to_string(n)});
}

}  // namespace

// The zip file as minizip reads it: through a buffer, since minizip reads
// its headers a few bytes at a time.
struct ZipReader::Source {
    platform::File* file;
    std::uint64_t size;
    std::uint64_t pos = 0;
    std::vector<std::uint8_t> buffer = std::vector<std::uint8_t>(std::size_t{1} << 16);
    std::uint64_t buffer_at = 0;  // the file position of buffer[0]
    std::size_t buffered = 0;
    bool failed = false;

    static voidpf open(voidpf opaque, const void*, int) { return opaque; }
    static uLong read(voidpf, voidpf stream, void* out, uLong n) {
        auto* s = static_cast<Source*>(stream);
        auto* to = static_cast<std::uint8_t*>(out);
        uLong done = 0;
        while (done < n && s->pos < s->size) {
            if (s->pos < s->buffer_at || s->pos >= s->buffer_at + s->buffered) {
                if (!s->file->seek(s->pos)) {
                    s->failed = true;
                    break;
                }
                s->buffer_at = s->pos;
                s->buffered = s->file->read_full(s->buffer);
                if (s->buffered == 0) {
                    s->failed = true;
                    break;
                }
            }
            const std::size_t at = static_cast<std::size_t>(s->pos - s->buffer_at);
            const std::size_t take = std::min<std::size_t>(n - done, s->buffered - at);
            std::memcpy(to + done, s->buffer.data() + at, take);
            done += static_cast<uLong>(take);
            s->pos += take;
        }
        return done;
    }
    static uLong write(voidpf, voidpf, const void*, uLong) { return 0; }
    static ZPOS64_T tell(voidpf, voidpf stream) { return static_cast<Source*>(stream)->pos; }
    static long seek(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
        auto* s = static_cast<Source*>(stream);
        std::uint64_t base = 0;
        if (origin == ZLIB_FILEFUNC_SEEK_CUR) base = s->pos;
        if (origin == ZLIB_FILEFUNC_SEEK_END) base = s->size;
        if (offset > std::numeric_limits<std::uint64_t>::max() - base) return -1;
        s->pos = base + offset;
        return 0;
    }
    static int close(voidpf, voidpf) { return 0; }
    static int error(voidpf, voidpf stream) { return static_cast<Source*>(stream)->failed ? 1 : 0; }
};

ZipReader::ZipReader(platform::File& file, std::uint64_t size, std::string path, std::string_view kind,
                     const SheetLimits& limits)
    : source_(std::make_unique<Source>()), path_(std::move(path)), kind_(kind), limits_(limits) {
    source_->file = &file;
    source_->size = size;
    zlib_filefunc64_def io{};
    io.zopen64_file = Source::open;
    io.zread_file = Source::read;
    io.zwrite_file = Source::write;
    io.ztell64_file = Source::tell;
    io.zseek64_file = Source::seek;
    io.zclose_file = Source::close;
    io.zerror_file = Source::error;
    io.opaque = source_.get();
    unzFile zip = unzOpen2_64(path_.c_str(), &io);
    if (zip == nullptr) {
        error_ = source_->failed ? format("can't read %s", {path_})
                                 : format("%s is damaged or is no %s file: its zip directory cannot be read",
                                          {path_, kind_});
        return;
    }
    unz_global_info64 info{};
    if (unzGetGlobalInfo64(zip, &info) != UNZ_OK || info.number_entry > limits_.files) {
        error_ = format("%s holds %s files, more than %s, the most that a table may hold",
                        {path_, std::to_string(info.number_entry), std::to_string(limits_.files)});
        unzClose(zip);
        return;
    }
    handle_ = zip;
}

ZipReader::~ZipReader() {
    if (handle_ == nullptr) return;
    if (reading_) unzCloseCurrentFile(handle_);
    unzClose(handle_);
}

bool ZipReader::has(std::string_view part) {
    if (handle_ == nullptr) return false;
    if (reading_) {
        unzCloseCurrentFile(handle_);
        reading_ = false;
    }
    return unzLocateFile(handle_, std::string(part).c_str(), 2) == UNZ_OK;
}

bool ZipReader::start(std::string_view part) {
    part_ = part;
    inflated_ = 0;
    if (!has(part)) {
        if (error_.empty())
            error_ = source_->failed ? format("can't read %s", {path_})
                                     : format("%s is damaged or is no %s file: it holds no %s", {path_, kind_, part_});
        return false;
    }
    unz_file_info64 info{};
    if (unzGetCurrentFileInfo64(handle_, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) {
        error_ = format("%s is damaged: the entry of its part %s cannot be read", {path_, part_});
        return false;
    }
    if (info.flag & 1) {
        error_ = format("%s is encrypted: save it again without a password", {path_});
        return false;
    }
    if (info.compression_method != 0 && info.compression_method != Z_DEFLATED) {
        error_ = format("%s: its part %s is compressed by method %s, which is not read here: save the table again",
                        {path_, part_, std::to_string(info.compression_method)});
        return false;
    }
    if (info.uncompressed_size > limits_.part) {
        error_ = format("%s: its part %s inflates to %s, more than %s, the most that is read of one part",
                        {path_, part_, bytes_text(info.uncompressed_size), bytes_text(limits_.part)});
        return false;
    }
    if (unzOpenCurrentFile(handle_) != UNZ_OK) {
        error_ = format("%s is damaged: its part %s cannot be read", {path_, part_});
        return false;
    }
    reading_ = true;
    return true;
}

long ZipReader::read(char* out, std::size_t n) {
    if (!reading_) return -1;
    const unsigned ask = static_cast<unsigned>(std::min<std::size_t>(n, std::size_t{1} << 20));
    const int got = unzReadCurrentFile(handle_, out, ask);
    if (got > 0) {
        inflated_ += static_cast<std::uint64_t>(got);
        if (inflated_ > limits_.part) {
            error_ = format("%s: its part %s inflates to more than %s, the most that is read of one part",
                            {path_, part_, bytes_text(limits_.part)});
            unzCloseCurrentFile(handle_);
            reading_ = false;
            return -1;
        }
        return got;
    }
    reading_ = false;
    if (got == 0) {
        if (unzCloseCurrentFile(handle_) == UNZ_CRCERROR) {
            error_ = format("%s is damaged: the check sum of its part %s does not match", {path_, part_});
            return -1;
        }
        return 0;
    }
    unzCloseCurrentFile(handle_);
    error_ = source_->failed || got == UNZ_ERRNO ? format("can't read %s", {path_})
                                                 : format("%s is damaged: its part %s cannot be inflated", {path_, part_});
    return -1;
}

// The output's temporary file as minizip writes it.
struct ZipWriter::Sink {
    platform::File* file;
    bool failed = false;

    static voidpf open(voidpf opaque, const void*, int) { return opaque; }
    static uLong read(voidpf, voidpf, void*, uLong) { return 0; }
    static uLong write(voidpf, voidpf stream, const void* data, uLong n) {
        auto* s = static_cast<Sink*>(stream);
        if (!s->file->write(std::span(static_cast<const std::uint8_t*>(data), n))) {
            s->failed = true;
            return 0;
        }
        return n;
    }
    static ZPOS64_T tell(voidpf, voidpf stream) {
        const auto at = static_cast<Sink*>(stream)->file->tell();
        return at ? *at : static_cast<ZPOS64_T>(-1);
    }
    static long seek(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
        auto* s = static_cast<Sink*>(stream);
        std::uint64_t base = 0;
        if (origin == ZLIB_FILEFUNC_SEEK_CUR) {
            const auto at = s->file->tell();
            if (!at) return -1;
            base = *at;
        } else if (origin == ZLIB_FILEFUNC_SEEK_END) {
            const auto size = s->file->size();
            if (!size) return -1;
            base = *size;
        }
        return s->file->seek(base + offset) ? 0 : -1;
    }
    static int close(voidpf, voidpf) { return 0; }
    static int error(voidpf, voidpf stream) { return static_cast<Sink*>(stream)->failed ? 1 : 0; }
};

ZipWriter::ZipWriter(platform::File& file) : sink_(std::make_unique<Sink>()) {
    sink_->file = &file;
    zlib_filefunc64_def io{};
    io.zopen64_file = Sink::open;
    io.zread_file = Sink::read;
    io.zwrite_file = Sink::write;
    io.ztell64_file = Sink::tell;
    io.zseek64_file = Sink::seek;
    io.zclose_file = Sink::close;
    io.zerror_file = Sink::error;
    io.opaque = sink_.get();
    handle_ = zipOpen2_64("table", APPEND_STATUS_CREATE, nullptr, &io);
    failed_ = handle_ == nullptr;
}

ZipWriter::~ZipWriter() {
    if (handle_ != nullptr) zipClose(handle_, nullptr);
}

bool ZipWriter::begin(std::string_view name, bool store) {
    if (failed_) return false;
    zip_fileinfo info{};
    info.tmz_date.tm_year = 1980;  // no time of its own: the same table gives the same bytes
    info.tmz_date.tm_mday = 1;
    failed_ = zipOpenNewFileInZip64(handle_, std::string(name).c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                    store ? 0 : Z_DEFLATED, store ? 0 : Z_DEFAULT_COMPRESSION, 0) != ZIP_OK;
    return !failed_;
}

bool ZipWriter::write(std::string_view data) {
    while (!failed_ && !data.empty()) {
        const std::size_t n = std::min<std::size_t>(data.size(), std::size_t{1} << 20);
        failed_ = zipWriteInFileInZip(handle_, data.data(), static_cast<unsigned>(n)) != ZIP_OK;
        data.remove_prefix(n);
    }
    return !failed_;
}

bool ZipWriter::end() {
    if (!failed_) failed_ = zipCloseFileInZip(handle_) != ZIP_OK;
    return !failed_;
}

bool ZipWriter::close() {
    if (handle_ == nullptr) return false;
    const bool closed = zipClose(handle_, nullptr) == ZIP_OK;
    handle_ = nullptr;
    return closed && !failed_ && !sink_->failed;
}

}  // namespace vid
