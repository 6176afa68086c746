// Puts the module's process-wide state back after a test changed it: the
// settings, the diagnostics switch and the record list. Queued traffic work
// names records of the list it was made for, so it goes when a list is
// swapped in or out.
#pragma once

#include "deform/records.h"
#include "deform/work_queue.h"
#include "foundation/settings.h"

namespace testhost {

class ModuleState {
public:
    // Keeps the present state; with `list`, the module uses that record list
    // and diagnostics are off until the scope ends.
    explicit ModuleState(kerbmark::RecordList* list = nullptr)
        : settings_(kerbmark::settings), list_(kerbmark::recordList), diagnostics_(kerbmark::diagnostics) {
        if (list) {
            kerbmark::dropAllQueuedWork();
            kerbmark::recordList = list;
            kerbmark::diagnostics = false;
        }
    }
    ~ModuleState() {
        if (kerbmark::recordList != list_) kerbmark::dropAllQueuedWork();
        kerbmark::settings = settings_;
        kerbmark::recordList = list_;
        kerbmark::diagnostics = diagnostics_;
    }
    ModuleState(const ModuleState&) = delete;
    ModuleState& operator=(const ModuleState&) = delete;

private:
    kerbmark::Settings settings_;
    kerbmark::RecordList* list_;
    bool diagnostics_;
};

}  // namespace testhost
