#include "impact/support/light_host.h"

#include <cstring>

#include "host/bindings.h"

namespace testimpact {

LightHost* LightHost::current = nullptr;

namespace {

constexpr std::size_t kTableEntries = 1000;

std::int32_t KERBMARK_THISCALL getLightDouble(void* damage, std::int32_t light) {
    LightHost::current->queries.push_back({damage, light});
    return LightHost::current->statusOf(damage, light);
}

void KERBMARK_THISCALL setLightDouble(void* damage, std::int32_t light, std::int32_t status) {
    LightHost::current->changes.push_back({damage, light, status});
    LightHost::current->setStatus(damage, light, status);
}

}  // namespace

LightHost::LightHost() : table_(kTableEntries, nullptr) {
    current = this;
    bindings_.set(game::getLightStatus, getLightDouble);
    bindings_.set(game::setLightStatus, setLightDouble);
    setTableWord(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(table_.data())));
}

LightHost::~LightHost() {
    setTableWord(0);
    current = nullptr;
}

host::VehicleModelLayout* LightHost::setRearLight(std::int16_t model, dent::Vec rearLight) {
    layouts_.push_back(std::make_unique<host::VehicleModelLayout>());
    layouts_.back()->rearLight = rearLight;
    infos_.push_back(std::make_unique<host::VehicleModelInfo>());
    infos_.back()->layout = layouts_.back().get();
    entry(model) = infos_.back().get();
    return layouts_.back().get();
}

void LightHost::setTableWord(std::uint32_t value) {
    // The word sits inside host code, unaligned.
    std::memcpy(reinterpret_cast<void*>(static_cast<std::uintptr_t>(host::kModelInfoTableWord)), &value, sizeof value);
}

std::int32_t LightHost::statusOf(void* damage, std::int32_t light) const {
    const auto found = status_.find({damage, light});
    return found == status_.end() ? 0 : found->second;
}

}  // namespace testimpact
