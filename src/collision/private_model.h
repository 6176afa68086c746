// The replacement of the host's collision-model lookup ("GetColModel").
#pragma once

#include "host/bindings.h"

namespace collision {

// Called by the host as its own lookup (a member function on the entity);
// returns the collision model the host is to use for the entity.
KERBMARK_THISCALL void* privateColModel(void* entity);

}  // namespace collision
