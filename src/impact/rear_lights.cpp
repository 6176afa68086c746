#include "impact/rear_lights.h"

#include <cmath>
#include <cstddef>
#include <cstring>

#include "foundation/log.h"
#include "foundation/settings.h"
#include "host/bindings.h"
#include "host/host_types.h"
#include "host/memory_check.h"

namespace kerbmark {

namespace {

constexpr float kLightAheadOfContact = 1.25f;
constexpr float kLightMaxY = -0.1f;
constexpr float kLightMaxDistance = 12.0f;
constexpr std::int32_t kBroken = 1;

struct Light {
    std::int32_t index;
    const char* side;
    float xSign;
};
const Light kRearLights[] = {{2, "right", 1.0f}, {3, "left", -1.0f}};

// The model's rear-light position from the host's model table; false when
// any link of the way there is missing or unreadable.
bool rearLightPosition(std::int16_t modelId, dent::Vec& position) {
    std::uint32_t table = 0;
    std::memcpy(&table, reinterpret_cast<const void*>(static_cast<std::uintptr_t>(host::kModelInfoTableWord)),
                sizeof table);
    if (table == 0) return false;
    if (!host::isHandledVehicleModel(modelId)) return false;
    const auto* entry = reinterpret_cast<host::VehicleModelInfo* const*>(static_cast<std::uintptr_t>(table)) + modelId;
    if (!readableRange(entry, sizeof *entry)) return false;
    const host::VehicleModelInfo* info = *entry;
    if (!info || !readableRange(info, sizeof *info)) return false;
    const host::VehicleModelLayout* layout = info->layout;
    if (!layout || !readableRange(layout, sizeof *layout)) return false;
    position = layout->rearLight;
    return true;
}

bool episodeUsable(const dent::Episode& episode) {
    return dent::isFinite(episode.point) && std::isfinite(episode.depth) && episode.depth > 0.0f &&
           std::isfinite(episode.radius) && episode.radius > 0.0f;
}

}  // namespace

void smashRearLights(void* vehiclePointer, const dent::Episode& episode, bool isPlayer) {
    if (!settings.RearDamage) return;
    if (!(episode.point.y < 0.0f)) return;
    if (!vehiclePointer || !readableRange(vehiclePointer, offsetof(host::Vehicle, damageState))) return;
    auto& vehicle = *static_cast<host::Vehicle*>(vehiclePointer);
    const std::int16_t modelId = vehicle.modelId;

    dent::Vec light{};
    if (!rearLightPosition(modelId, light)) return;
    if (!dent::isFinite(light) || !(light.y < kLightMaxY) || !(dent::length(light) <= kLightMaxDistance)) return;

    void* damage = vehicle.damageState;
    for (const Light& rearLight : kRearLights) {
        if (game::getLightStatus(damage, rearLight.index) != 0) continue;
        if (!episodeUsable(episode)) continue;
        if (!(episode.point.y < 0.0f) || !(episode.point.y <= light.y + kLightAheadOfContact)) continue;
        const dent::Vec at{rearLight.xSign * std::fabs(light.x), light.y, light.z};
        const float distance = dent::length(episode.point - at);
        const float weight = dent::falloffWeight(distance, episode.radius, settings.FalloffPower);
        if (!(episode.depth * weight >= settings.RearMinDepth)) continue;
        game::setLightStatus(damage, rearLight.index, kBroken);
        if (settings.LogHits) {
            logHitFormatted<130>("RearLight: actor=%s side=%s model=%d smashed", isPlayer ? "player" : "npc",
                              rearLight.side, static_cast<int>(modelId));
        }
    }
}

}  // namespace kerbmark
