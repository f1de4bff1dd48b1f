#include "cli/jobs.h"

#include <cctype>
#include <deque>
#include <memory>
#include <set>

#include "platform/file.h"
#include "platform/paths.h"
#include "core/pool.h"

namespace vid::cli {

namespace {

// True when two of `files` have the same stem (in any case) in the same
// folder: their outputs, or an output and an original kept as ".orig", are
// then one file, which two workers must not write at once.
bool outputs_may_meet(const std::vector<std::string>& files) {
    std::set<std::string> seen;
    for (const std::string& f : files) {
        const auto parts = platform::split_path(f);
        const std::string folder = parts.folder.empty() ? "." : std::string(parts.folder);
        const auto id = platform::id_of(folder);
        std::string key = id ? std::to_string(id->volume) + ":" + std::to_string(id->index) : folder;
        key += '/';
        for (char c : platform::stem_of(parts.name)) key += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (!seen.insert(key).second) return true;
    }
    return false;
}

}  // namespace

std::optional<JobsArgs> take_jobs(Args args, const char* command) {
    JobsArgs out;
    out.jobs = default_jobs();
    bool options = true;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--") options = false;
        if (!options || a.rfind("-j", 0) != 0) {
            out.rest.push_back(a);
            continue;
        }
        std::string number = a.substr(2);
        if (number.empty()) {
            if (i + 1 == args.size()) {
                usage_error(std::string(command) + ": -j needs a number of workers");
                return std::nullopt;
            }
            number = args[++i];
        }
        unsigned n = 0;
        bool ok = !number.empty() && number.size() <= 3;
        for (char c : number) ok = ok && c >= '0' && c <= '9';
        if (ok) n = static_cast<unsigned>(std::stoul(number));
        if (!ok || n < 1 || n > 256) {
            usage_error(std::string(command) + ": -j takes a number of workers from 1 to 256, not '" + number + "'");
            return std::nullopt;
        }
        out.jobs = n;
    }
    return out;
}

std::vector<bool> convert_all(Ui& ui, const std::vector<std::string>& files, bool (*convert)(Ui&, const std::string&),
                              unsigned jobs) {
    std::vector<bool> results(files.size());
    if (jobs <= 1 || files.size() <= 1 || outputs_may_meet(files)) {
        for (std::size_t i = 0; i < files.size(); ++i) results[i] = convert(ui, files[i]);
        return results;
    }
    struct Job {
        BufferUi ui;
        bool ok = false;
        std::size_t task = 0;
    };
    Pool pool(jobs);
    std::deque<std::pair<std::size_t, std::shared_ptr<Job>>> running;
    const bool view = ui.has_listing_view();
    const auto retire = [&] {
        auto [i, job] = running.front();
        running.pop_front();
        pool.wait(job->task);
        job->ui.replay(ui);
        results[i] = job->ok;
    };
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (running.size() >= 2 * std::size_t{jobs}) retire();
        auto job = std::make_shared<Job>();
        job->ui = BufferUi(view, ui.is_console());
        const std::string& file = files[i];
        job->task = pool.submit([job, convert, &file] { job->ok = convert(job->ui, file); });
        running.emplace_back(i, job);
    }
    while (!running.empty()) retire();
    return results;
}

std::optional<std::vector<std::string>> operands(
    Args args, const char* command, std::initializer_list<std::pair<const char*, bool*>> flags,
    std::initializer_list<std::pair<const char*, std::string*>> values) {
    std::vector<std::string> out;
    bool options = true;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (options && a == "--") {
            options = false;
            continue;
        }
        if (options && a.size() > 1 && a[0] == '-') {
            bool known = false;
            for (const auto& [name, set] : flags)
                if (a == name) *set = known = true;
            for (const auto& [name, value] : values) {
                if (a != name) continue;
                if (++i == args.size()) {
                    usage_error(std::string(command) + ": " + name + " needs a value");
                    return std::nullopt;
                }
                *value = args[i];
                known = true;
            }
            if (!known) {
                usage_error(std::string(command) + ": unknown option '" + a + "'");
                return std::nullopt;
            }
            continue;
        }
        out.push_back(a);
    }
    return out;
}

}  // namespace vid::cli
