// A player's car read from an OBJ model (the demo's preview of any car): the
// demo's own meshes come back as the same parts, and an object too large for
// the module to deform is kept whole.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <string>

#include "car_model.h"
#include "dent_support.h"
#include "host_checks.h"
#include "host_image.h"
#include "host_world.h"
#include "obj_car.h"
#include "scenario_support.h"
#include "vehicle_view.h"

namespace {

using namespace hostsim;

float distance(Vec3 a, Vec3 b) {
    const float dx = a.x - b.x, dy = a.y - b.y, dz = a.z - b.z;
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}

// Every part the demo writes comes back under the host's name for it, with
// the same triangles at the same places in the model frame, and normals of
// unit length computed for it (the demo writes none).
TEST(ObjCar, DemoMeshesComeBackAsTheSameParts) {
    ASSERT_TRUE(startHost());
    const VehicleSnapshot generated = snapshotVehicle(spawnVehicle());
    scenario::Folder folder;
    const std::string path = folder.file("car.obj");
    ASSERT_TRUE(writeObj(path, objMeshes(generated)));

    ObjCar car;
    std::string error;
    ASSERT_TRUE(loadObjCar(path, paintOf(400), car, error)) << error;
    VehicleSpec design;
    design.model = &car.model;
    design.position = {30.0f, -12.0f, 0.0f};
    design.heading = 0.7f;
    const VehicleSnapshot loaded = snapshotVehicle(spawnVehicle(design));

    const std::map<std::string, std::string> renamed = {{"hub_lb", "wheel_lb_dummy"}, {"hub_rb", "wheel_rb_dummy"}};
    std::size_t compared = 0;
    for (const PartSnapshot& original : generated) {
        if (original.name.find("_vlo") != std::string::npos) continue;
        const auto rename = renamed.find(original.name);
        const std::string name = rename == renamed.end() ? original.name : rename->second;
        const PartSnapshot* part = scenario::part(loaded, name);
        ASSERT_NE(part, nullptr) << original.name << " as " << name;
        ASSERT_EQ(part->triangles.size(), original.triangles.size()) << name;
        float farthest = 0.0f;
        for (std::size_t t = 0; t < original.triangles.size(); ++t)
            for (int k = 0; k < 3; ++k)
                farthest = std::max(farthest, distance(part->positions[part->triangles[t].vertex[k]],
                                                       original.positions[original.triangles[t].vertex[k]]));
        EXPECT_LT(farthest, 1e-4f) << name;
        const MeshData mesh = meshOf(part->geometry);
        ASSERT_EQ(mesh.normals.size(), mesh.positions.size()) << name;
        for (const Vec3& n : mesh.normals) ASSERT_NEAR(distance(n, {0.0f, 0.0f, 0.0f}), 1.0f, 1e-4f) << name;
        ++compared;
    }
    EXPECT_EQ(compared, generated.size() - 1);
    EXPECT_EQ(loaded.size(), compared) << "no part is made up";
    scenario::expectNoHostFaults();
}

// An object of more vertices than the module deforms stays one part of that
// many vertices, and says so.
TEST(ObjCar, ObjectBeyondTheDeformableLimitIsKeptWhole) {
    ASSERT_TRUE(startHost());
    scenario::Folder folder;
    const std::string path = folder.file("big.obj");
    const int side = 180;  // 32400 vertices
    std::FILE* file = std::fopen(path.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fprintf(file, "o Body\n");
    for (int j = 0; j < side; ++j)
        for (int i = 0; i < side; ++i)
            std::fprintf(file, "v %f %f 0.3\n", -0.9 + 1.8 * i / (side - 1), -2.3 + 4.6 * j / (side - 1));
    for (int j = 0; j + 1 < side; ++j)
        for (int i = 0; i + 1 < side; ++i) {
            const int a = j * side + i + 1;
            std::fprintf(file, "f %d %d %d %d\n", a, a + 1, a + side + 1, a + side);
        }
    std::fclose(file);

    ObjCar car;
    std::string error;
    ASSERT_TRUE(loadObjCar(path, paintOf(400), car, error)) << error;
    ASSERT_EQ(car.notes.size(), 1u);
    EXPECT_NE(car.notes[0].find("Body -> chassis (32400 vertices, normals computed, more than the 30000"),
              std::string::npos)
        << car.notes[0];
    VehicleSpec design;
    design.model = &car.model;
    const Atomic* body = atomicNamed(spawnVehicle(design), "chassis");
    ASSERT_NE(body, nullptr);
    EXPECT_EQ(body->geometry->vertexCount, side * side);
    EXPECT_EQ(body->geometry->triangleCount, 2 * (side - 1) * (side - 1));
}

}  // namespace
