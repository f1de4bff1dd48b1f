// Helpers of the mod-project tests: game folders made of hand-built
// archives, the manifest read as JSON (as a script would read the file,
// never through the program's own structures), and files listed.
#pragma once

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "kit/samples.h"
#include "project/project.h"
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

// A game folder of the given files (path -> bytes); unpacked into `work`
// with the status `unpacked` unless that is none; `out` is where repack writes.
struct Project {
    ScratchDir dir;
    std::string game = dir.file("game"), work = dir.file("work"), out = dir.file("out");
    RecordingUi unpacking;  // what unpack told
    explicit Project(const std::vector<kit::Member>& files, std::optional<int> unpacked = 0) {
        for (const auto& [path, bytes] : files) {
            std::filesystem::create_directories(std::filesystem::path(game + "/" + path).parent_path());
            write_file(game + "/" + path, bytes);
        }
        if (unpacked) EXPECT_EQ(project::unpack(unpacking, game, work, {}), *unpacked) << unpacking.last_status();
    }
    // The game folder as the manifest names it.
    std::string game_named() const { return std::filesystem::canonical(game).string(); }
};

// Records like RecordingUi and sets the stop flag when a status text starts with `at`.
struct StoppingUi : RecordingUi {
    explicit StoppingUi(std::string at_text) : at(std::move(at_text)) {}
    std::atomic<bool> stop{false};
    std::string at;
    void status(std::string_view text, Draw draw) override {
        if (text.rfind(at, 0) == 0) stop = true;
        RecordingUi::status(text, draw);
    }
};

// The regular files under `folder`, relative, with "/", in order.
inline std::vector<std::string> files_in(const std::string& folder) {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::recursive_directory_iterator(folder))
        if (e.is_regular_file()) out.push_back(e.path().lexically_relative(folder).generic_string());
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace vid::test
