// Content hashes for telling whether a file changed: XXH3, 64 bits, from
// Debian's libxxhash (used header-only, so both builds take it from the
// same header). A hash that is not cryptographic: it tells an edit from no
// edit, it does not guard against a file made to collide on purpose.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/bytes.h"
#include "platform/file.h"

namespace vid::project {

using Hash = std::uint64_t;

class Hasher {
public:
    Hasher();
    ~Hasher();
    Hasher(const Hasher&) = delete;
    Hasher& operator=(const Hasher&) = delete;
    void update(ByteView bytes);
    Hash value() const;

private:
    void* state_;
};

// The hash as the manifest writes it: sixteen lower-case hexadecimal digits.
std::string hash_text(Hash h);
// The hash of such a text; nothing for any other text.
std::optional<Hash> hash_of_text(std::string_view text);

Hash hash_of(ByteView bytes);
// The hash of a whole file, read through a buffer; nothing when it cannot be read.
std::optional<Hash> hash_file(const std::string& path);

// A whole file's size and its XXH3 hash of 128 bits, as a patch names the
// version of a game file it was made for and the one it makes. 128 bits
// tell two versions apart by accident practically never; like the hash
// above, it is no guard against a file made on purpose to look like
// another.
struct FileHash {
    std::uint64_t size = 0;
    std::string hex;  // 32 lower-case hexadecimal digits, the most significant first (as xxhsum -H2 prints)
    bool operator==(const FileHash&) const = default;
};

// The same hash of bytes given piece by piece.
class Hasher128 {
public:
    Hasher128();
    ~Hasher128();
    Hasher128(const Hasher128&) = delete;
    Hasher128& operator=(const Hasher128&) = delete;
    void update(ByteView bytes);
    FileHash value() const;

private:
    void* state_;
    std::uint64_t size_ = 0;
};

// The hash of the file `path` read whole; nothing when it cannot be read
// (or ends before the size the system gave), or when `stop`, asked
// between pieces of 1 MiB, says to stop.
std::optional<FileHash> hash128_file(const std::string& path, const std::atomic<bool>* stop = nullptr);
// The same of a file open for reading, from its first byte.
std::optional<FileHash> hash128_of(platform::File& f, const std::atomic<bool>* stop = nullptr);

}  // namespace vid::project
