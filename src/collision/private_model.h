// Private collision models: the driver that makes and compresses a vehicle's
// own model after a hit, and the replacement of the host's collision-model
// lookup ("GetColModel") that hands that model to the host.
#pragma once

#include "host/bindings.h"

namespace dent {
struct Episode;
}

namespace kerbmark {
struct VehicleRecord;
}

namespace collision {

// After a hit that deformed at least one mesh: makes (or reuses) the record's
// collision state and applies the record's episode to it. Does nothing
// without the collision hook, for a non-player vehicle unless
// Collision.AffectNPCs, for a vehicle without the host's private-model flag,
// and for a hit that is not mainly lengthwise.
void updatePrivateCollision(kerbmark::VehicleRecord& record, bool isPlayer);
// The same with the episode as it was at the hit, for work finished frames later.
void updatePrivateCollision(kerbmark::VehicleRecord& record, bool isPlayer, const dent::Episode& episode);

// Called by the host as its own lookup (a member function on the entity);
// returns the collision model the host is to use for the entity: the
// vehicle's private model while it is valid, otherwise the host's own answer.
KERBMARK_THISCALL void* privateColModel(void* entity);

}  // namespace collision
