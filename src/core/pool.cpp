#include "core/pool.h"

namespace vid {

unsigned default_jobs() {
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : n;
}

void BufferUi::replay(Ui& ui) {
    for (const Event& e : events_) {
        if (e.kind == 0) ui.status(e.text, static_cast<Draw>(e.value));
        if (e.kind == 1) ui.alert(e.text);
        if (e.kind == 2) ui.add_node(e.text, e.value);
    }
    events_.clear();
}

Pool::Pool(unsigned workers) {
    if (workers <= 1) return;
    for (unsigned i = 0; i < workers; ++i) threads_.emplace_back([this] { work(); });
}

Pool::~Pool() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        // Tasks nobody waited for are of no use any more (a stopped run).
        queue_.clear();
    }
    queued_.notify_all();
    for (auto& t : threads_) t.join();
}

std::size_t Pool::submit(std::function<void()> task) {
    std::unique_lock lock(mutex_);
    const std::size_t n = submitted_++;
    done_.push_back(0);
    if (threads_.empty()) {
        lock.unlock();
        task();
        lock.lock();
        done_[n] = 1;
        return n;
    }
    queue_.emplace_back(n, std::move(task));
    queued_.notify_one();
    return n;
}

void Pool::wait(std::size_t n) {
    std::unique_lock lock(mutex_);
    finished_.wait(lock, [&] { return done_[n] != 0; });
}

void Pool::work() {
    for (;;) {
        std::unique_lock lock(mutex_);
        queued_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) return;
        auto [n, task] = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        task();
        lock.lock();
        done_[n] = 1;
        finished_.notify_all();
    }
}

}  // namespace vid
