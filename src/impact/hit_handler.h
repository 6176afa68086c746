// Where a collision the host recorded on a vehicle becomes deformation.
#pragma once

#include <cstdint>

#include "deform/atomic_driver.h"

namespace kerbmark {

// Reads the vehicle's latest collision and, when the contact grows the
// vehicle's contact episode, breaks rear lights and dents its atomics. With
// resetRequested on a vehicle that has a record, restores the vehicle instead.
// `playerVehicle` (may be null) is never evicted to make room for a record.
// Returns the work units the frame spent on it (10 ns each, see
// WorkAllowance), which the frame's budgeted work then has less of.
std::uint64_t handleHit(void* vehicle, bool isPlayer, bool resetRequested, void* playerVehicle);

// With Traffic/WorkPerFrame set, a traffic hit's mesh work waits in a queue:
// runs the oldest queued work, step by step, while the steps fit the
// allowance (the frame's first step always runs, so the queue moves on;
// items dropped by their checks are no step). `playerVehicle` (may be null):
// the car the player sits in now, whose copies other cars make room for.
// `playerShare`: units of the allowance that only the player's items of hits
// that copy meshes may spend; what they leave of it is withdrawn before any
// other item runs, and after the run, so that the work after it (the player's
// car's preparation) has only what the traffic budget leaves.
void runQueuedTrafficWork(WorkAllowance& allowance, const void* playerVehicle, std::uint64_t playerShare);

// The queue holds as many hits as it may: further traffic waits for a later frame.
bool trafficWorkWaitsForRoom();

}  // namespace kerbmark
