// The host's light-status functions as doubles, and the host's table of model
// information with the rear-light position of chosen vehicle models.
#pragma once

#include "host/support/binding_overrides.h"

#include <cstdint>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "foundation/vec.h"
#include "host/host_types.h"

namespace testimpact {

struct LightQuery {
    void* damage;
    std::int32_t light;
};
struct LightChange {
    void* damage;
    std::int32_t light;
    std::int32_t status;
};

class LightHost {
public:
    // Points game::getLightStatus and setLightStatus at this host and the word
    // at 0x40CD67 at an empty model table. Host memory must already be
    // writable (construct after the fake host). One at a time.
    LightHost();
    // Clears the table word and puts the previous bindings back.
    ~LightHost();
    LightHost(const LightHost&) = delete;
    LightHost& operator=(const LightHost&) = delete;

    // Model `model` gets model information whose layout holds `rearLight`.
    host::VehicleModelLayout* setRearLight(std::int16_t model, dent::Vec rearLight);
    // The table entry of `model` (null: no model information).
    host::VehicleModelInfo*& entry(std::int16_t model) { return table_.at(static_cast<std::size_t>(model)); }
    void setTableWord(std::uint32_t value);

    std::int32_t statusOf(void* damage, std::int32_t light) const;
    void setStatus(void* damage, std::int32_t light, std::int32_t status) { status_[{damage, light}] = status; }

    std::vector<LightQuery> queries;
    std::vector<LightChange> changes;

    static LightHost* current;

private:
    std::vector<host::VehicleModelInfo*> table_;
    std::vector<std::unique_ptr<host::VehicleModelInfo>> infos_;
    std::vector<std::unique_ptr<host::VehicleModelLayout>> layouts_;
    std::map<std::pair<void*, std::int32_t>, std::int32_t> status_;
    testhost::BindingOverrides bindings_;
};

}  // namespace testimpact
