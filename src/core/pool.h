// Work on several cores with results in a fixed order: tasks run on a few
// worker threads, and the caller takes their results back one by one in
// the order it submitted them. Each task talks to a BufferUi, whose texts
// are replayed on the real Ui when its result is taken: what the user sees
// is the same, in the same order, whatever the number of workers.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/ui.h"

namespace vid {

// The number of workers for "-j N" when none is given: the cores there are.
unsigned default_jobs();

// A Ui that keeps what it is told, to be replayed later.
class BufferUi : public Ui {
public:
    explicit BufferUi(bool listing_view = false, bool console = false) : view_(listing_view), console_(console) {}
    void status(std::string_view text, Draw draw) override { events_.push_back({0, std::string(text), int(draw)}); }
    void alert(std::string_view text) override { events_.push_back({1, std::string(text), 0}); }
    void add_node(std::string_view text, int level) override { events_.push_back({2, std::string(text), level}); }
    bool has_listing_view() const override { return view_; }
    bool is_console() const override { return console_; }
    // Tells `ui` everything, in order, and forgets it.
    void replay(Ui& ui);

private:
    struct Event {
        int kind;
        std::string text;
        int value;
    };
    bool view_;
    bool console_;
    std::vector<Event> events_;
};

class Pool {
public:
    // With one worker or none, each task runs at once in submit().
    explicit Pool(unsigned workers);
    ~Pool();
    Pool(const Pool&) = delete;
    Pool& operator=(const Pool&) = delete;

    unsigned workers() const { return static_cast<unsigned>(threads_.size()); }
    // Queues a task; its number (0, 1, ...) is the order of submission.
    std::size_t submit(std::function<void()> task);
    // Waits until task `n` has run.
    void wait(std::size_t n);

private:
    void work();

    std::mutex mutex_;
    std::condition_variable queued_, finished_;
    std::deque<std::pair<std::size_t, std::function<void()>>> queue_;
    std::vector<char> done_;
    std::size_t submitted_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace vid
