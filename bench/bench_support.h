// What the benchmarks share: a Ui that drops status texts and shows (and
// counts) Alerts, and wall-clock timing.
#pragma once

#include <chrono>
#include <cstdio>
#include <string_view>

#include "core/ui.h"

namespace bench {

class QuietUi : public vid::Ui {
public:
    // Alerts holding `expected` (a warning the benchmark's data cause on
    // purpose) are counted but not shown.
    explicit QuietUi(std::string_view expected = {}) : expected_(expected) {}
    void status(std::string_view, vid::Draw) override {}
    void alert(std::string_view text) override {
        ++alerts;
        if (expected_.empty() || text.find(expected_) == std::string_view::npos)
            std::fprintf(stderr, "Alert: %.*s\n", static_cast<int>(text.size()), text.data());
    }
    int alerts = 0;

private:
    std::string_view expected_;
};

template <class F>
double seconds_of(F&& work) {
    const auto t0 = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace bench
