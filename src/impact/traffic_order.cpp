#include "impact/traffic_order.h"

namespace dent {

bool inTrafficRange(Vec a, Vec b, float range) {
    if (!isFinite(a) || !isFinite(b)) return false;
    if (!std::isfinite(range) || !(range > 0.0f)) return false;
    const float dx = a.x - b.x;
    const float dy = a.y - b.y;
    const float dz = a.z - b.z;
    return range * range >= dz * dz + (dx * dx + dy * dy);
}

bool trafficPriority(const TrafficCandidate& a, const TrafficCandidate& b) {
    if (a.linkedToPlayer != b.linkedToPlayer) return a.linkedToPlayer;
    // A NaN distance differs from everything and compares false.
    if (!(a.distanceSquared == b.distanceSquared)) return a.distanceSquared < b.distanceSquared;
    return a.handle < b.handle;
}

}  // namespace dent
