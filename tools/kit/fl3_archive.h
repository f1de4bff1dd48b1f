// FL3 archives made from nothing: for the unit tests, the fuzz seeds, the
// benchmark and the sample folder. Written independently of the program's
// own packer, in the layout that the packer produces.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/bytes.h"
#include "kit/samples.h"

namespace vid::kit {

// An index file: each member's entry (size, name length, name), the end
// marker, then `tail`.
Bytes fl3_index(const std::vector<Member>& members, ByteView tail = {});

// An archive as the packer writes it from that index file and those members.
Bytes fl3_archive(const std::vector<Member>& members, ByteView index_tail = {});

// A member of a generated archive: its name and size; its bytes come from
// a seeded generator.
struct Fl3Spec {
    std::string name;
    std::uint32_t size = 0;
};

// Streams a generated archive to `path` through a small buffer, so that
// archives of gigabytes cost little memory. False when the file cannot be
// written.
bool write_fl3_file(const std::string& path, const std::vector<Fl3Spec>& members, std::uint64_t seed);

}  // namespace vid::kit
