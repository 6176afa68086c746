#include "vehicle_view.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <tuple>

#include "host_world.h"

namespace hostsim {

namespace {

constexpr float kNearestCell = 0.05f;
constexpr int kNearestReach = 6;  // cells searched each way: moves beyond 0.3 m count as 0.3 m

dent::Vec toVec(Vec3 v) { return {v.x, v.y, v.z}; }

Vec3 transform(const Matrix& m, Vec3 p) {
    return {p.x * m.right.x + p.y * m.forward.x + p.z * m.up.x + m.position.x,
            p.x * m.right.y + p.y * m.forward.y + p.z * m.up.y + m.position.y,
            p.x * m.right.z + p.y * m.forward.z + p.z * m.up.z + m.position.z};
}

float distance(Vec3 a, Vec3 b) {
    const float dx = a.x - b.x, dy = a.y - b.y, dz = a.z - b.z;
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}

using Cell = std::tuple<int, int, int>;

Cell cellOf(Vec3 p) {
    return {static_cast<int>(std::floor(p.x / kNearestCell)), static_cast<int>(std::floor(p.y / kNearestCell)),
            static_cast<int>(std::floor(p.z / kNearestCell))};
}

bool drawnClose(const PartSnapshot& part) { return part.name.find("_vlo") == std::string::npos; }

}  // namespace

VehicleSnapshot snapshotVehicle(const Vehicle* vehicle) {
    VehicleSnapshot snapshot;
    for (const Atomic* atomic : clumpAtomics(vehicle->clump)) {
        PartSnapshot part{atomic->frame->hostName, atomic->geometry, {}, {}, {}};
        const Geometry* g = atomic->geometry;
        if (g && g->vertexBlock && g->vertexBlock->positions) {
            for (std::int32_t i = 0; i < g->vertexCount; ++i)
                part.positions.push_back(
                    modelPoint(vehicle, transform(atomic->frame->hostWorld, g->vertexBlock->positions[i])));
            part.triangles.assign(g->triangles, g->triangles + g->triangleCount);
            for (const Triangle& t : part.triangles)
                part.triangleColours.push_back(t.material < g->materialCount && g->materials[t.material]
                                                   ? g->materials[t.material]->colour
                                                   : 0xFF808080u);
        }
        snapshot.push_back(std::move(part));
    }
    return snapshot;
}

std::vector<float> movedFrom(const PartSnapshot& part, const PartSnapshot& rest) {
    std::vector<float> moved(part.positions.size(), 0.0f);
    if (part.positions.size() == rest.positions.size()) {
        for (std::size_t i = 0; i < moved.size(); ++i) moved[i] = distance(part.positions[i], rest.positions[i]);
        return moved;
    }
    std::map<Cell, std::vector<Vec3>> cells;
    for (const Vec3& p : rest.positions) cells[cellOf(p)].push_back(p);
    const float farthest = kNearestCell * kNearestReach;
    for (std::size_t i = 0; i < moved.size(); ++i) {
        const auto [cx, cy, cz] = cellOf(part.positions[i]);
        float nearest = farthest;
        for (int reach = 0; reach <= kNearestReach && nearest > reach * kNearestCell; ++reach)
            for (int dx = -reach; dx <= reach; ++dx)
                for (int dy = -reach; dy <= reach; ++dy)
                    for (int dz = -reach; dz <= reach; ++dz) {
                        if (std::max({std::abs(dx), std::abs(dy), std::abs(dz)}) != reach) continue;
                        auto found = cells.find({cx + dx, cy + dy, cz + dz});
                        if (found == cells.end()) continue;
                        for (const Vec3& p : found->second) nearest = std::min(nearest, distance(p, part.positions[i]));
                    }
        moved[i] = nearest;
    }
    return moved;
}

PictureScene pictureScene(const VehicleSnapshot& snapshot, const VehicleSnapshot& rest) {
    PictureScene scene;
    for (std::size_t p = 0; p < snapshot.size(); ++p) {
        const PartSnapshot& part = snapshot[p];
        if (!drawnClose(part)) continue;
        const std::vector<float> moved =
            p < rest.size() ? movedFrom(part, rest[p]) : std::vector<float>(part.positions.size(), 0.0f);
        for (std::size_t t = 0; t < part.triangles.size(); ++t) {
            PictureTriangle triangle{};
            for (int k = 0; k < 3; ++k) {
                const std::uint16_t v = part.triangles[t].vertex[k];
                if (v >= part.positions.size()) continue;
                triangle.corner[k] = toVec(part.positions[v]);
                triangle.moved[k] = moved[v];
            }
            triangle.colour = part.triangleColours[t];
            scene.push_back(triangle);
        }
    }
    return scene;
}

std::vector<ObjMesh> objMeshes(const VehicleSnapshot& snapshot) {
    std::vector<ObjMesh> meshes;
    for (const PartSnapshot& part : snapshot) {
        if (!drawnClose(part)) continue;
        ObjMesh mesh;
        mesh.name = part.name;
        for (const Vec3& p : part.positions) mesh.positions.push_back(toVec(p));
        for (const Triangle& t : part.triangles)
            for (std::uint16_t v : t.vertex) mesh.indices.push_back(v);
        meshes.push_back(std::move(mesh));
    }
    return meshes;
}

bool writeVehiclePicture(const std::string& path, const VehicleSnapshot& before, const VehicleSnapshot& after,
                         const char* afterTitle) {
    return writeBeforeAfterPicture(path, pictureScene(before, before), pictureScene(after, before), afterTitle);
}

}  // namespace hostsim
