#include "fl3/member_check.h"

#include <algorithm>

#include "core/files.h"
#include "core/text.h"
#include "fl3/format.h"
#include "fl3/stream.h"
#include "platform/paths.h"

namespace vid {

namespace {

// Names compared as Windows compares them: ASCII letters without case.
bool same_name(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return lower(x) == lower(y); });
}

// The member of the index `index` that is named `name`, if any. An index
// that cannot be read lists nothing.
std::optional<std::string> member_named(const std::string& index, std::string_view name) {
    auto file = platform::File::open(index, platform::OpenMode::read_existing);
    const auto size = file ? file->size() : std::nullopt;
    if (!size) return std::nullopt;
    fl3::FileReader in(*file, *size, std::size_t{64} << 10);
    fl3::Directory dir = fl3::read_directory(in, fl3::kMaxEntries);
    for (const fl3::Entry& e : dir.entries)
        if (same_name(e.name, name)) return e.name;
    return std::nullopt;
}

}  // namespace

bool output_allowed(Ui& ui, const std::string& input, const std::string& output, MadeBy made_by) {
    const auto in = platform::id_of(input);
    if (in && in == platform::id_of(output)) {
        ui.alert(format("%s is not written: it is the input %s itself, which stays as it is", {output, input}));
        return false;
    }
    if (made_by == MadeBy::encoder) return true;
    const auto index = find_any_case(std::string(platform::split_path(input).folder), fl3::kIndexName);
    if (!index) return true;
    const auto member = member_named(*index, platform::split_path(output).name);
    if (!member) return true;
    ui.alert(format("%s is not written: it is the member %s of %s, which stays as it is",
                    {output, fl3::printable_name(*member), *index}));
    return false;
}

}  // namespace vid
