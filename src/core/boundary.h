// The one error boundary of a front end: a task that runs out of memory or
// throws what nothing below caught ends in one Alert, never in a crash, and
// its caller gets the failure value.
#pragma once

#include <exception>
#include <new>
#include <string>

#include "core/messages.h"
#include "core/ui.h"

namespace vid {

template <typename Task, typename Result>
Result guarded(Ui& ui, Task&& task, Result failed, std::string_view no_memory = kNoMemory) {
    try {
        return task();
    } catch (const std::bad_alloc&) {
        ui.alert(no_memory);
    } catch (const std::exception& e) {
        ui.alert(std::string("The command stopped on an unexpected error: ") + e.what());
    }
    return failed;
}

}  // namespace vid
