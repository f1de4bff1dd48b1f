// Content hashes for telling whether a file changed: XXH3, 64 bits, from
// Debian's libxxhash (used header-only, so both builds take it from the
// same header). A hash that is not cryptographic: it tells an edit from no
// edit, it does not guard against a file made to collide on purpose.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/bytes.h"

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

}  // namespace vid::project
