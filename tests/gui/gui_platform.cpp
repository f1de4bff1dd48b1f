// The Windows file layer, called directly, and the console program's command
// line: what only the Windows build can show (sharing modes, file
// attributes, the console handler's clean-up, wildcard expansion).
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/output.h"
#include "platform/temp_registry.h"
#include "scenarios.h"
#include "winauto.h"

namespace gui {
namespace {

namespace p = vid::platform;

std::vector<std::string> temps_in(const std::string& folder) {
    std::vector<std::string> out;
    for (const auto& n : list_folder(folder))
        if (n.rfind("~vd", 0) == 0) out.push_back(n);
    return out;
}

bool write_all(const std::string& path, const std::string& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

void platform_layer(const Env& env) {
    const std::string dir = env.work + "\\platform";
    CreateDirectoryA(dir.c_str(), nullptr);

    // The console handler's clean-up removes a temporary file that is open
    // (a file being deleted while open goes when its last handle closes, as
    // when the process ends after the handler).
    {
        auto out = p::Output::create(dir + "\\out.bin", p::Existing::replace);
        GUI_CHECK(out && temps_in(dir).size() == 1, "an output makes one temporary file");
        p::remove_tracked_temps();  // what the console handler does on Ctrl-C
        if (out) out->file().close();
        const auto left = temps_in(dir);
        report().check(left.empty(), "the console handler's clean-up removes the open temporary file",
                       left.empty() ? "" : left[0] + " is left");
    }

    // An input that another program holds: readable when that program only
    // reads or writes it, "in use" when it shares nothing.
    const std::string in = dir + "\\in.bin";
    write_all(in, "input");
    const struct {
        const char* what;
        DWORD access, share;
        bool readable;
    } holders[] = {
        {"that another program reads", GENERIC_READ, FILE_SHARE_READ, true},
        {"that another program writes, sharing", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, true},
        {"that another program holds, sharing nothing", GENERIC_READ, 0, false},
    };
    for (const auto& h : holders) {
        HANDLE other = CreateFileA(in.c_str(), h.access, h.share, nullptr, OPEN_EXISTING, 0, nullptr);
        p::OpenError why = p::OpenError::none;
        auto f = p::File::open(in, p::OpenMode::read_existing, &why);
        std::uint8_t buf[8] = {};
        const std::size_t n = f ? f->read_full(buf) : 0;
        const bool ok = other != INVALID_HANDLE_VALUE &&
                        (h.readable ? n == 5 && why == p::OpenError::none : !f && why == p::OpenError::in_use);
        report().check(ok, std::string("an input ") + h.what + (h.readable ? ": read" : ": in use"),
                       "read " + std::to_string(n) + " bytes, reason " + std::to_string(static_cast<int>(why)));
        if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
    }

    // A read-only file replaced stays read-only, with the new bytes.
    const std::string ro = dir + "\\ro.bin";
    write_all(ro, "old");
    SetFileAttributesA(ro.c_str(), FILE_ATTRIBUTE_READONLY);
    {
        auto out = p::Output::create(ro, p::Existing::replace);
        const bool committed = out && out->file().write(std::span<const std::uint8_t>(
                                          reinterpret_cast<const std::uint8_t*>("new"), 3)) &&
                               out->commit();
        std::string bytes;
        read_all(ro, bytes);
        const DWORD attrs = GetFileAttributesA(ro.c_str());
        report().check(committed && bytes == "new" && attrs != INVALID_FILE_ATTRIBUTES &&
                           (attrs & FILE_ATTRIBUTE_READONLY),
                       "a read-only file replaced keeps its read-only attribute",
                       "committed " + std::to_string(committed) + ", bytes '" + bytes + "', attributes " +
                           std::to_string(attrs));
    }
    SetFileAttributesA(ro.c_str(), FILE_ATTRIBUTE_NORMAL);
    GUI_CHECK(temps_in(dir).empty(), "no temporary file is left");
}

// Runs the console program in `cwd` with `args`; its exit code (-1 when it
// did not start or end).
long run_console(const std::string& exe, const std::string& cwd, const std::string& args) {
    std::string line = "\"" + exe + "\" " + args;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, cwd.c_str(), &si,
                        &pi))
        return -1;
    long rc = -1;
    if (WaitForSingleObject(pi.hProcess, 60000) == WAIT_OBJECT_0) {
        DWORD code = 0;
        GetExitCodeProcess(pi.hProcess, &code);
        rc = static_cast<long>(code);
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return rc;
}

// The console program expands wildcards itself, as Windows console tools do
// (the command interpreter passes them on as typed).
void console_wildcards(const Env& env) {
    const std::string exe = env.exe.substr(0, env.exe.find_last_of('\\') + 1) + "vidodide.exe";
    const std::string dir = env.work + "\\gui\\glob";
    const auto files = names_with(dir, ".bm2");
    GUI_CHECK(files.size() >= 2 && file_exists(exe), "the console program and the sample images are there");
    const long rc = run_console(exe, dir, "decode-bm2 *.bm2");
    bool all = !files.empty();
    for (const auto& f : files) {
        const std::string out = f.substr(0, f.size() - 1) + "P";
        all = all && same_file(dir + "\\" + out, env.work + "\\ref\\bm2\\" + out);
    }
    GUI_CHECK(rc == 0 && all, "decode-bm2 *.bm2 decodes every BM2 image of the folder");
    GUI_CHECK(run_console(exe, dir, "decode-bm2 nothing*.bm2") == 1, "a pattern that matches nothing fails");
}

Register platform_scenario("platform", platform_layer);
Register console_scenario("console", console_wildcards);

}  // namespace
}  // namespace gui
