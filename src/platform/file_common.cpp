#include "platform/file.h"

namespace vid::platform {

File::File(File&& other) noexcept : handle_(other.handle_) { other.handle_ = -1; }

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        close();
        handle_ = other.handle_;
        other.handle_ = -1;
    }
    return *this;
}

File::~File() { close(); }

bool File::is_open() const { return handle_ != -1; }

std::size_t File::read_full(std::span<std::uint8_t> out) {
    std::size_t done = 0;
    while (done < out.size()) {
        std::size_t n = read(out.subspan(done));
        if (n == 0) break;
        done += n;
    }
    return done;
}

}  // namespace vid::platform
