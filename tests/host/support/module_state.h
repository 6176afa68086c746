// Puts the module's process-wide state back after a test changed it: the
// settings, the diagnostics switch and the record list.
#pragma once

#include "deform/records.h"
#include "foundation/settings.h"

namespace testhost {

class ModuleState {
public:
    // Keeps the present state; with `list`, the module uses that record list
    // and diagnostics are off until the scope ends.
    explicit ModuleState(kerbmark::RecordList* list = nullptr)
        : settings_(kerbmark::settings), list_(kerbmark::recordList), diagnostics_(kerbmark::diagnostics) {
        if (list) {
            kerbmark::recordList = list;
            kerbmark::diagnostics = false;
        }
    }
    ~ModuleState() {
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
