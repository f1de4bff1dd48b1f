// Members taken out one by one, as they are or decoded into their editable
// files (PNG, WAV, listing): `extract-fl3 ARCHIVE MEMBER...` and the
// browser's Extract and Save Decoded.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/ui.h"

namespace vid::formats {

// A member's bytes: `size` bytes from `offset` of `file` (an archive, or a
// loose file from 0), and the name it is written under.
struct MemberBytes {
    std::string file;
    std::string name;
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
};

// The members of the archive at `archive` whose names match any of
// `patterns` (see matches_name), in the directory's order. Nothing, with an
// Alert, when the archive cannot be read or a pattern matches no member.
std::optional<std::vector<MemberBytes>> members_named(Ui& ui, const std::string& archive,
                                                      const std::vector<std::string>& patterns);

struct WriteOptions {
    bool decoded = false;  // the editable file of a BM2, WV5 or AB member; other members as they are
    bool replace = true;   // a file there is replaced; otherwise it is left and told
};

// Writes each member into `folder` (which must exist), telling each on the
// status line and each problem as an Alert; the count written.
std::uint64_t write_members(Ui& ui, const std::vector<MemberBytes>& members, const std::string& folder,
                            WriteOptions options);

// A decoded member is held whole in memory: members larger than this are
// written as they are not decoded (an Alert says so).
inline constexpr std::uint64_t kMaxDecodedMember = 64ull << 20;

}  // namespace vid::formats
