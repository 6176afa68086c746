#include "geometry_watch.h"

#include <algorithm>
#include <cmath>

namespace bench {

namespace {

constexpr float kMoved = 0.0001f;       // metres a vertex must move to count
constexpr float kBoundsMoved = 0.001f;  // metres a rebuilt panel's bounds must move

struct Bounds {
    hostsim::Vec3 low{INFINITY, INFINITY, INFINITY}, high{-INFINITY, -INFINITY, -INFINITY};
};

Bounds boundsOf(const hostsim::Geometry& geometry) {
    Bounds b;
    const hostsim::Vec3* p = geometry.vertexBlock->positions;
    for (std::int32_t i = 0; i < geometry.vertexCount; ++i) {
        b.low = {std::min(b.low.x, p[i].x), std::min(b.low.y, p[i].y), std::min(b.low.z, p[i].z)};
        b.high = {std::max(b.high.x, p[i].x), std::max(b.high.y, p[i].y), std::max(b.high.z, p[i].z)};
    }
    return b;
}

bool apart(hostsim::Vec3 a, hostsim::Vec3 b, float by) {
    return std::fabs(a.x - b.x) > by || std::fabs(a.y - b.y) > by || std::fabs(a.z - b.z) > by;
}

bool moved(const hostsim::Geometry& now, const hostsim::Geometry& original) {
    if (&now == &original) return false;
    if (now.vertexCount != original.vertexCount) {
        const Bounds a = boundsOf(now), b = boundsOf(original);
        return apart(a.low, b.low, kBoundsMoved) || apart(a.high, b.high, kBoundsMoved);
    }
    const hostsim::Vec3* p = now.vertexBlock->positions;
    const hostsim::Vec3* q = original.vertexBlock->positions;
    for (std::int32_t i = 0; i < now.vertexCount; ++i)
        if (apart(p[i], q[i], kMoved)) return true;
    return false;
}

}  // namespace

DentWatch::DentWatch(const hostsim::Vehicle* car, const hostsim::CarModel& model) {
    for (const char* name : {"chassis", "bonnet_hi_ok"}) {
        const hostsim::Atomic* atomic = hostsim::atomicNamed(car, name);
        for (const hostsim::ModelFrame& frame : model.frames)
            if (atomic && frame.name == name && frame.geometry) parts_.push_back(Part{atomic, frame.geometry});
    }
}

bool DentWatch::shows() const {
    for (const Part& part : parts_)
        if (part.atomic->geometry && moved(*part.atomic->geometry, *part.original)) return true;
    return false;
}

DrawWatch::DrawWatch(const std::vector<hostsim::Vehicle*>& cars) : cars_(cars.begin(), cars.end()), seen_(look()) {}

std::vector<DrawWatch::Drawn> DrawWatch::look() const {
    std::vector<Drawn> drawn;
    for (const hostsim::Vehicle* car : cars_)
        for (const hostsim::Atomic* atomic : hostsim::clumpAtomics(car->clump))
            drawn.push_back(Drawn{atomic->geometry, atomic->geometry ? atomic->geometry->hostUnlocks : 0u});
    return drawn;
}

bool DrawWatch::changed() {
    std::vector<Drawn> now = look();
    const bool different = !(now == seen_);
    seen_ = std::move(now);
    return different;
}

}  // namespace bench
