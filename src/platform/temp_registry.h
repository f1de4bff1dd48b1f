// The temporary files of the outputs in progress, so that an interrupted
// run can remove them. Safe to use from a signal handler or a console
// control handler: fixed slots, no allocation.
#pragma once

#include <atomic>
#include <string>

namespace vid::platform {

// The next temporary name in `folder` (empty, or ending with its
// separator): "~vd<process>-<number>.tmp".
std::string temp_path(const std::string& folder, unsigned long process);

// Remembers `path`; the slot to give back, or -1 when every slot is taken
// (the file is then still removed by the output, just not on an interrupt).
int track_temp(const std::string& path);
void untrack_temp(int slot);
// Removes every remembered file (async-signal-safe).
void remove_tracked_temps() noexcept;

// Installs, once, the handlers that call remove_tracked_temps() when the
// run is interrupted. One per platform.
void install_interrupt_cleanup();
// From now on the first Ctrl-C sets `*stop` instead, so that a
// long run stops between two of its files and leaves its output whole; a
// second interrupt ends the process as install_interrupt_cleanup() does.
void stop_on_interrupt(std::atomic<bool>* stop);
// Removes one file by name without allocating (async-signal-safe).
void remove_raw(const char* path) noexcept;

}  // namespace vid::platform
