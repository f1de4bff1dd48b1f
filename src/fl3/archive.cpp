#include "fl3/archive.h"

#include <array>

#include "core/files.h"
#include "core/messages.h"
#include "core/text.h"

namespace vid::fl3 {

std::string too_short_text(std::string_view path) {
    return format("%s is not an FL3 archive: it is shorter than the 28 bytes of an FL3 header.", {path});
}

std::string opened_text(const ArchiveReader& reader, std::string_view path) {
    switch (reader.opened()) {
        case Opened::ok: break;
        case Opened::cant_open: return input_error_text(reader.open_error(), path);
        case Opened::cant_read: return cant_read(path);
        case Opened::too_short: return too_short_text(path);
        case Opened::directory_beyond_end: return beyond_end_text(path, reader.header().dir_offset, reader.size());
    }
    return {};
}

std::string beyond_end_text(std::string_view path, std::uint32_t dir_offset, std::optional<std::uint64_t> size) {
    if (!size)
        return format("%s is damaged: its directory would start at byte %d, beyond the end of the file.",
                      {path, std::to_string(dir_offset)});
    return format("%s is damaged: its directory would start at byte %d, beyond the end of the file (%d bytes). "
                  "Nothing is extracted.",
                  {path, std::to_string(dir_offset), std::to_string(*size)});
}

ArchiveReader::ArchiveReader(const std::string& path, std::size_t buffer_size) {
    owned_ = platform::File::open(path, platform::OpenMode::read_existing, &open_error_);
    if (!owned_) return;
    file_ = &*owned_;
    const auto size = file_->size();
    if (!size) {
        opened_ = Opened::cant_read;
        return;
    }
    size_ = *size;
    in_.emplace(*file_, size_, buffer_size);
    read_header();
}

ArchiveReader::ArchiveReader(platform::File& file, std::uint64_t size, std::size_t buffer_size)
    : file_(&file), size_(size) {
    if (!file_->seek(0)) {
        opened_ = Opened::cant_read;
        return;
    }
    in_.emplace(*file_, size_, buffer_size);
    read_header();
}

void ArchiveReader::read_header() {
    std::array<std::uint8_t, kHeaderSize> head{};
    const auto h = parse_header(ByteView(head).first(in_->read(head)));
    if (in_->failed()) {
        opened_ = Opened::cant_read;
    } else if (!h) {
        opened_ = Opened::too_short;
    } else {
        header_ = *h;
        opened_ = h->dir_offset >= size_ ? Opened::directory_beyond_end : Opened::ok;
    }
}

const Directory& ArchiveReader::read_directory() {
    if (opened_ != Opened::ok) return dir_;
    in_->seek(header_.dir_offset);
    dir_ = fl3::read_directory(*in_, header_.entry_count);
    return dir_;
}

bool ArchiveReader::directory_complete() const {
    return dir_.end == Directory::End::marker && dir_.entries.size() == header_.entry_count;
}

std::optional<platform::File> ArchiveReader::take_file() {
    in_.reset();
    file_ = nullptr;
    return std::move(owned_);
}

CopyResult ArchiveReader::copy(std::uint64_t offset, std::uint64_t n, platform::File& out) {
    in_->seek(offset);
    return copy_held(*in_, out, n);
}

void ArchiveWriter::add(std::string_view name, std::uint32_t size) {
    entries_.emplace_back(std::string(name), size);
    data_end_ += size;
}

bool ArchiveWriter::finish(std::optional<std::uint32_t> dir_length) {
    Bytes directory;
    std::uint64_t length = 4;  // the end marker
    for (const auto& [name, size] : entries_) {
        directory.clear();
        put_entry(directory, size, name);
        out_.write(directory);
        length += directory.size();
    }
    directory.clear();
    put_u32(directory, kEndMarker);
    out_.write(directory);
    Header h;
    h.dir_length = dir_length ? *dir_length : static_cast<std::uint32_t>(length);
    h.dir_offset = static_cast<std::uint32_t>(data_end_);
    h.entry_count = static_cast<std::uint16_t>(entries_.size());
    const auto header = header_bytes(h);
    return out_.flush() && out_.file().seek(0) && out_.file().write(header);
}

}  // namespace vid::fl3
