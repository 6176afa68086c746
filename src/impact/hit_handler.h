// Where a collision the host recorded on a vehicle becomes deformation.
#pragma once

namespace kerbmark {

// Reads the vehicle's latest collision and, when the contact grows the
// vehicle's contact episode, breaks rear lights and dents its atomics. With
// resetRequested on a vehicle that has a record, restores the vehicle instead.
// `playerVehicle` (may be null) is never evicted to make room for a record.
void handleHit(void* vehicle, bool isPlayer, bool resetRequested, void* playerVehicle);

}  // namespace kerbmark
