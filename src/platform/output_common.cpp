#include <array>
#include <atomic>
#include <cstring>

#include "platform/output.h"
#include "platform/temp_registry.h"

namespace vid::platform {

namespace {

constexpr std::size_t kSlots = 16;
constexpr std::size_t kSlotPath = 4096;

struct Slot {
    std::atomic<bool> used{false};   // taken by an output
    std::atomic<bool> ready{false};  // path written and valid
    char path[kSlotPath];
};
std::array<Slot, kSlots> g_slots;

}  // namespace

std::string temp_path(const std::string& folder, unsigned long process) {
    static std::atomic<unsigned> counter{0};  // outputs may be started on several threads at once
    return folder + "~vd" + std::to_string(process) + "-" + std::to_string(++counter) + ".tmp";
}

int track_temp(const std::string& path) {
    if (path.size() >= kSlotPath) return -1;
    install_interrupt_cleanup();
    for (std::size_t i = 0; i < kSlots; ++i) {
        bool expected = false;
        if (!g_slots[i].used.compare_exchange_strong(expected, true)) continue;
        std::memcpy(g_slots[i].path, path.c_str(), path.size() + 1);
        g_slots[i].ready.store(true, std::memory_order_release);
        return static_cast<int>(i);
    }
    return -1;
}

void untrack_temp(int slot) {
    if (slot < 0 || static_cast<std::size_t>(slot) >= kSlots) return;
    g_slots[static_cast<std::size_t>(slot)].ready.store(false, std::memory_order_release);
    g_slots[static_cast<std::size_t>(slot)].used.store(false, std::memory_order_release);
}

void remove_tracked_temps() noexcept {
    for (Slot& s : g_slots)
        if (s.ready.load(std::memory_order_acquire)) remove_raw(s.path);
}

Output::Output(Output&& other) noexcept
    : final_(std::move(other.final_)),
      temp_(std::move(other.temp_)),
      file_(std::move(other.file_)),
      hold_(std::move(other.hold_)),
      existing_(other.existing_),
      replaced_(other.replaced_),
      mode_(other.mode_),
      slot_(other.slot_) {
    other.temp_.clear();
    other.slot_ = -1;
}

Output& Output::operator=(Output&& other) noexcept {
    if (this != &other) {
        discard();
        final_ = std::move(other.final_);
        temp_ = std::move(other.temp_);
        file_ = std::move(other.file_);
        hold_ = std::move(other.hold_);
        existing_ = other.existing_;
        replaced_ = other.replaced_;
        mode_ = other.mode_;
        slot_ = other.slot_;
        other.temp_.clear();
        other.slot_ = -1;
    }
    return *this;
}

Output::~Output() { discard(); }

std::optional<File> Output::reader() const {
    if (temp_.empty()) return std::nullopt;
    return File::open(temp_, OpenMode::read_existing);
}

void Output::discard() {
    file_.close();
    hold_.close();
    if (!temp_.empty()) {
        remove_raw(temp_.c_str());
        temp_.clear();
    }
    untrack_temp(slot_);
    slot_ = -1;
}

}  // namespace vid::platform
