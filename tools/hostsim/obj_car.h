// A player's own car from a Wavefront OBJ model, built the way the host's
// vehicle models are: objects or groups named like the host's frames become
// those frames and their parts, everything else joins the body.
//
//   chassis, body             the body ("chassis" below "chassis_dummy")
//   chassis_vlo               the low-detail body
//   bonnet*, hood*            "bonnet_hi_ok" below "bonnet_dummy"
//   boot*, trunk*             "boot_hi_ok" below "boot_dummy"
//   wheel_*, hub_*            "wheel_*_dummy"
//   door_*, bump_*, wing_*    "<name>_hi_ok" below "<name>_dummy"
//   windscreen, windshield    "windscreen_hi_ok" below "windscreen_dummy"
//   exhaust, misc_*           a part of that name on the body
//
// Names are matched without letter case, without a numbered suffix after a
// dot ("Hood.001") and without the host's own suffixes ("_dummy", "_hi_ok",
// "_ok", "_dam"). Coordinates are the car's model frame in metres (x right,
// y forward, z up), as the demo writes its OBJ meshes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "car_model.h"

namespace hostsim {

struct ObjCar {
    CarModel model;
    Vec3 low{0.0f, 0.0f, 0.0f}, high{0.0f, 0.0f, 0.0f};  // bounds of every vertex, model frame
    std::vector<std::string> notes;  // what became of each object, for the person looking
};

// Reads the model at `path` (UTF-8, file_names.h); false with a one-line `error` naming the file
// when it cannot be read, is not an OBJ model, has no vertices or faces, has
// a coordinate that is not finite, an index out of range, or a part with more
// vertices than a host geometry can hold. Parts without a material colour
// take `paint` (body panels) or the colour of their kind.
bool loadObjCar(const std::string& path, std::uint32_t paint, ObjCar& car, std::string& error);

}  // namespace hostsim
