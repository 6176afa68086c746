#include "impact/traffic_selection.h"

#include <algorithm>
#include <cstddef>

#include "foundation/settings.h"
#include "host/bindings.h"
#include "host/host_types.h"
#include "host/memory_check.h"
#include "impact/response.h"

namespace kerbmark {

namespace {

constexpr std::int32_t kMaxPoolSlots = 10000;
constexpr std::uint8_t kFreeSlot = 0x80;
constexpr std::uint8_t kStateShift = 3;
constexpr std::uint8_t kSkippedStateA = 2;
constexpr std::uint8_t kSkippedStateB = 13;

// The entity's position: its matrix's position when it has a matrix, else
// the position it keeps itself. False when the memory cannot be read.
bool entityPosition(const host::Vehicle& entity, dent::Vec& position, ReadableMemoryWalk& memory) {
    const dent::HostMatrix* matrix = entity.matrix;
    if (!matrix) {
        position = entity.position;
        return true;
    }
    if (!memory.readable(&matrix->position, sizeof matrix->position)) return false;
    position = matrix->position;
    return true;
}

void collect(void* referenceEntity, void* playerVehicle, std::vector<dent::TrafficCandidate>& candidates) {
    if (!referenceEntity || !readableRange(referenceEntity, offsetof(host::Vehicle, clump))) return;
    // The matrices of the pool's vehicles lie in few regions: one query each, not one per vehicle.
    ReadableMemoryWalk memory;
    dent::Vec reference{};
    if (!entityPosition(*static_cast<const host::Vehicle*>(referenceEntity), reference, memory)) return;
    if (!dent::isFinite(reference)) return;

    const auto* pool = host::at<const host::VehiclePool* const volatile>(host::kVehiclePool);
    if (!pool || !readableRange(pool, sizeof *pool)) return;
    const std::uint8_t* slots = pool->slots;
    const std::int32_t count = pool->count;
    if (!slots || count < 1 || count > kMaxPoolSlots) return;
    if (!readableRange(slots, static_cast<std::uint32_t>(count))) return;

    const void* linked = nullptr;
    if (playerVehicle && readableRange(playerVehicle, sizeof(host::Vehicle))) {
        linked = static_cast<const host::Vehicle*>(playerVehicle)->linkedEntity;
    }

    // Cheapest tests first: the walk covers every slot of the pool every frame.
    for (std::int32_t i = 0; i < count; ++i) {
        const std::uint8_t slot = slots[i];
        if (slot & kFreeSlot) continue;
        const std::int32_t handle = i * 256 + slot;
        void* found = game::vehicleByRef(handle);
        if (!found || found == playerVehicle) continue;
        const auto& vehicle = *static_cast<const host::Vehicle*>(found);
        if (vehicle.word594 != 0 || !vehicle.clump) continue;
        const std::uint8_t state = static_cast<std::uint8_t>(vehicle.state >> kStateShift);
        if (state == kSkippedStateA || state == kSkippedStateB) continue;

        dent::Vec position{};
        if (!entityPosition(vehicle, position, memory) || !dent::isFinite(position)) continue;
        if (!dent::inTrafficRange(position, reference, settings.NPCRange)) continue;
        if (!(dent::response(vehicle.impulse, vehicle.mass, settings.impact).depth > 0.0f)) continue;

        const dent::Vec d = position - reference;
        candidates.push_back({found, d.z * d.z + (d.x * d.x + d.y * d.y), found == linked, handle});
    }
    std::sort(candidates.begin(), candidates.end(), dent::trafficPriority);
}

}  // namespace

std::vector<dent::TrafficCandidate> selectTraffic(void* referenceEntity, void* playerVehicle) {
    std::vector<dent::TrafficCandidate> candidates;
    try {
        collect(referenceEntity, playerVehicle, candidates);
    } catch (...) {
        // Out of memory: no traffic this frame.
        candidates.clear();
    }
    return candidates;
}

}  // namespace kerbmark
