// Rear lights broken by a dent that reaches them deeply enough.
#pragma once

#include "impact/response.h"

namespace kerbmark {

// Tests both rear lights of the vehicle against the episode's dent profile
// (depth times the falloff weight at the light) and breaks every intact light
// whose local depth reaches RearMinDepth.
void smashRearLights(void* vehicle, const dent::Episode& episode, bool isPlayer);

}  // namespace kerbmark
