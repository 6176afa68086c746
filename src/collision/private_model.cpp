#include "collision/private_model.h"

namespace collision {

KERBMARK_THISCALL void* privateColModel(void* entity) {
    // The host's own answer comes first, always.
    void* const hostModel = original(entity);
    // Private models are not built yet: no vehicle has one, and a vehicle
    // without a private model gets the host's own model.
    return hostModel;
}

}  // namespace collision
