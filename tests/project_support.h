// Helpers of the mod-project tests: game folders made of hand-built
// archives, the manifest read as JSON (as a script would read the file,
// never through the program's own structures), and files listed.
#pragma once

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "test_support.h"

namespace vid::test {

inline nlohmann::json manifest_of(const std::string& work) {
    const Bytes text = read_file(work + "/vidodide-project.json");
    return nlohmann::json::parse(text.begin(), text.end());
}

// Rewrites the manifest as an editor would: parsed, changed, written back.
inline void edit_manifest(const std::string& work, const std::function<void(nlohmann::json&)>& change) {
    nlohmann::json m = manifest_of(work);
    change(m);
    write_file(work + "/vidodide-project.json", m.dump(1));
}

// The regular files under `folder`, relative, with "/", in order.
inline std::vector<std::string> files_in(const std::string& folder) {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::recursive_directory_iterator(folder))
        if (e.is_regular_file()) out.push_back(e.path().lexically_relative(folder).generic_string());
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace vid::test
