// What the benchmarks share: a Ui that drops status texts and shows (and
// counts) Alerts, wall-clock timing, and runs in a child process that
// measure its peak resident memory.
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/file.h"

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

// What a run in a child process came to.
struct ChildRun {
    bool ok = false;
    double seconds = 0;
    long peak_kib = 0;  // the child's peak resident memory
};

// Runs `work` (true when it succeeded) in a child process, whose peak
// resident memory is then its own. Call it before the benchmark holds much
// memory: the child starts with the pages of its parent.
template <class F>
ChildRun in_child(F&& work) {
    ChildRun r;
    std::fflush(stdout);  // else the child would print what is pending again
    const auto t0 = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(work() ? 0 : 1);
    int status = 0;
    rusage usage{};
    if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid) return r;
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    r.peak_kib = usage.ru_maxrss;
    return r;
}

inline std::uint64_t size_of(const std::string& path) {
    auto f = vid::platform::File::open(path, vid::platform::OpenMode::read_existing);
    return f ? f->size().value_or(0) : 0;
}

// Runs the command `command` (decode-bm2...) on `path` in a child process:
// the program named by $BENCH_CLI when it is set (to measure another
// build of the command line), else `work` in the child.
template <class F>
ChildRun command_in_child(const char* command, const std::string& path, F&& work) {
    const char* cli = std::getenv("BENCH_CLI");
    return in_child([&] {
        if (cli != nullptr) {
            std::fclose(stdout);  // its status texts are not wanted
            ::execl(cli, cli, command, path.c_str(), static_cast<char*>(nullptr));
            return false;
        }
        return work();
    });
}

// One line for a command on a large input: sizes, time, peak memory.
inline void print_large(const char* command, const std::string& in, const std::string& out, const ChildRun& r) {
    const double gib = 1024.0 * 1024.0 * 1024.0;
    const auto in_bytes = static_cast<double>(size_of(in)), out_bytes = static_cast<double>(size_of(out));
    std::printf("%s on a large input: %.2f GiB read, %.2f GiB written in %.1f s (%.0f MiB/s of input); peak RSS %.1f "
                "MiB (%s)\n",
                command, in_bytes / gib, out_bytes / gib, r.seconds, in_bytes / (1 << 20) / r.seconds,
                static_cast<double>(r.peak_kib) / 1024.0, r.ok ? "ok" : "FAILED");
}

}  // namespace bench
