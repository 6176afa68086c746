// Vehicle models as the host loads them: a frame tree with named dummies and
// parts, and one geometry per part that every vehicle of the model shares.
// Model frame: x right, y forward, z up, metres; the car is 4.6 long and
// 1.8 wide, its body's floor at z = -0.32 and the wheels on the ground at -0.65.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host_records.h"

namespace hostsim {

// The body's usual vertex count, and the largest a mesh may have to be deformed.
constexpr int kUsualBodyVertices = 4994;
constexpr int kMaxDeformableVertices = 30000;

struct ModelFrame {
    std::string name;
    int parent;          // index into the model's frames; -1 for the root
    Vec3 position;       // in the parent frame
    float turn;          // about the parent's up axis, radians
    Geometry* geometry;  // the part drawn at this frame; null for a dummy
};

struct CarModel {
    std::vector<ModelFrame> frames;  // parents before children
};

// Where every model's right rear light sits; the left one mirrors it in x.
constexpr Vec3 kRearLightPosition{0.62f, -2.22f, 0.14f};

// The bonnet's and the boot's grids of points on each of their two faces
// (columns across, rows along); the model's usual panels while any is 0.
// With `seams`, each cell's corners are its own vertices (copies), as a game
// model's panel is split along its seams; the normals stay smooth.
struct PanelDetail {
    int bonnetColumns = 0, bonnetRows = 0;
    int bootColumns = 0, bootRows = 0;
    bool seams = false;
};

// The model's frames and shared geometries, made on first use. The model
// keeps one reference to each geometry for good. `bodyVertices` is the
// vertex count of the chassis body (kUsualBodyVertices when 0).
const CarModel& carModel(std::int16_t modelId, int bodyVertices = 0, const PanelDetail& panels = {});

// A coarse car of the model: a body of kSmallBodyVertices vertices, a bonnet
// and one door of 24 each, no other part; made on first use, kept like
// carModel's. A copy of any of its meshes takes few host calls (a bonnet
// rebuilt along its crease still takes a few thousand).
constexpr int kSmallBodyVertices = 82;
const CarModel& smallCarModel(std::int16_t modelId);

// The paint of a model (0xAABBGGRR).
std::uint32_t paintOf(std::int16_t modelId);

}  // namespace hostsim
