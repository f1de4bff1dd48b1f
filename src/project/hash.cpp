#include "project/hash.h"

#define XXH_INLINE_ALL
#include <xxhash.h>

#include <cstdio>

#include "platform/file.h"

namespace vid::project {

Hasher::Hasher() : state_(XXH3_createState()) { XXH3_64bits_reset(static_cast<XXH3_state_t*>(state_)); }

Hasher::~Hasher() { XXH3_freeState(static_cast<XXH3_state_t*>(state_)); }

void Hasher::update(ByteView bytes) {
    if (!bytes.empty()) XXH3_64bits_update(static_cast<XXH3_state_t*>(state_), bytes.data(), bytes.size());
}

Hash Hasher::value() const { return XXH3_64bits_digest(static_cast<XXH3_state_t*>(state_)); }

std::string hash_text(Hash h) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
    return text;
}

std::optional<Hash> hash_of_text(std::string_view text) {
    if (text.size() != 16) return std::nullopt;
    Hash h = 0;
    for (char c : text) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else
            return std::nullopt;
        h = h << 4 | static_cast<Hash>(digit);
    }
    return h;
}

Hash hash_of(ByteView bytes) {
    Hasher h;
    h.update(bytes);
    return h.value();
}

Hasher128::Hasher128() : state_(XXH3_createState()) { XXH3_128bits_reset(static_cast<XXH3_state_t*>(state_)); }

Hasher128::~Hasher128() { XXH3_freeState(static_cast<XXH3_state_t*>(state_)); }

void Hasher128::update(ByteView bytes) {
    if (!bytes.empty()) XXH3_128bits_update(static_cast<XXH3_state_t*>(state_), bytes.data(), bytes.size());
    size_ += bytes.size();
}

FileHash Hasher128::value() const {
    XXH128_canonical_t canonical;
    XXH128_canonicalFromHash(&canonical, XXH3_128bits_digest(static_cast<XXH3_state_t*>(state_)));
    FileHash out{size_, {}};
    char digits[3];
    for (const unsigned char b : canonical.digest) {
        std::snprintf(digits, sizeof digits, "%02x", b);
        out.hex += digits;
    }
    return out;
}

std::optional<FileHash> hash128_file(const std::string& path, const std::atomic<bool>* stop) {
    auto f = platform::File::open(path, platform::OpenMode::read_existing);
    if (!f) return std::nullopt;
    return hash128_of(*f, stop);
}

std::optional<FileHash> hash128_of(platform::File& f, const std::atomic<bool>* stop) {
    const auto size = f.size();
    if (!size || !f.seek(0)) return std::nullopt;
    Hasher128 h;
    Bytes buf(std::size_t{1} << 20);
    for (std::size_t n; (n = f.read(buf)) > 0;) {
        if (stop && stop->load()) return std::nullopt;
        h.update(ByteView(buf).first(n));
    }
    FileHash out = h.value();
    if (out.size != *size) return std::nullopt;
    return out;
}

std::optional<Hash> hash_file(const std::string& path) {
    auto f = platform::File::open(path, platform::OpenMode::read_existing);
    if (!f) return std::nullopt;
    const auto size = f->size();
    if (!size) return std::nullopt;
    Hasher h;
    Bytes buf(std::size_t{1} << 20);
    std::uint64_t total = 0;
    for (;;) {
        const std::size_t n = f->read(buf);
        if (n == 0) break;
        h.update(ByteView(buf).first(n));
        total += n;
    }
    if (total != *size) return std::nullopt;
    return h.value();
}

}  // namespace vid::project
