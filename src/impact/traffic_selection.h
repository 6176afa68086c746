// The non-player vehicles handed to the hit handler in one frame.
#pragma once

#include <vector>

#include "impact/traffic_order.h"

namespace kerbmark {

// Every vehicle of the host's pool near the reference entity that carries a
// collision strong enough to dent, in priority order (the one tied to the
// player's vehicle first, then nearer first, then lower handle). The caller
// hands the first MaxNPCPerFrame of them to the hit handler. Empty when the
// reference position or the pool cannot be used.
std::vector<dent::TrafficCandidate> selectTraffic(void* referenceEntity, void* playerVehicle);

}  // namespace kerbmark
