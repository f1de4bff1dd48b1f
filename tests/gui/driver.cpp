// vdriver.exe SCENARIO|all EXE WORK SHOTS: runs GUI scenarios against
// Vidodide.exe and prints one line per check and a closing count. "all" runs
// every scenario but the benchmarks (bench-*), which run only by name.
#include <cstdio>
#include <cstring>
#include <vector>

#include "scenarios.h"
#include "winauto.h"

namespace gui {

static std::vector<Scenario>& registry() {
    static std::vector<Scenario> r;
    return r;
}

void Report::check(bool ok, const std::string& name, const std::string& why) {
    if (ok) {
        ++passed;
        std::printf("ok - %s\n", name.c_str());
    } else {
        ++failed;
        std::printf("FAIL - %s: %s\n", name.c_str(), why.c_str());
    }
    std::fflush(stdout);
}

Report& report() {
    static Report r;
    return r;
}

Register::Register(const char* name, void (*run)(const Env&), bool in_all) {
    registry().push_back({name, run, in_all});
}

}  // namespace gui

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: vdriver SCENARIO|all|list EXE WORK SHOTS\n");
        return 2;
    }
    gui::Env env{argv[2], argv[3], argv[4]};
    int ran = 0;
    for (const auto& s : gui::registry()) {
        if (std::strcmp(argv[1], "list") == 0) {
            std::printf("%s\n", s.name);
            continue;
        }
        const bool all = std::strcmp(argv[1], "all") == 0;
        if (all ? !s.in_all : std::strcmp(argv[1], s.name) != 0) continue;
        std::printf("# scenario %s\n", s.name);
        std::fflush(stdout);
        const ULONGLONG start = GetTickCount64();
        s.run(env);
        std::printf("# scenario %s took %.1f s\n", s.name, static_cast<double>(GetTickCount64() - start) / 1000.0);
        std::fflush(stdout);
        ++ran;
    }
    if (std::strcmp(argv[1], "list") == 0) return 0;
    if (ran == 0) {
        std::fprintf(stderr, "no scenario named %s\n", argv[1]);
        return 2;
    }
    return gui::report().failed == 0 ? 0 : 1;
}
