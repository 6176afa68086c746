// The simulated host itself: the scenarios rely on it to notice misuse the
// real host would crash or leak on, and to lay out its records where the
// module reads them. Called through the host's own addresses, as the module
// calls it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "car_model.h"
#include "host_checks.h"
#include "host_functions.h"
#include "host_image.h"
#include "host_world.h"

namespace {

using namespace hostsim;

template <typename Fn>
Fn at(std::uint32_t address) {
    return reinterpret_cast<Fn>(static_cast<std::uintptr_t>(address));
}

const auto createGeometry = at<Geometry* (*)(std::int32_t, std::int32_t, std::uint32_t)>(kCreateGeometry);
const auto triangleVertices =
    at<Geometry* (*)(Geometry*, Triangle*, std::uint16_t, std::uint16_t, std::uint16_t)>(kTriangleVertices);
const auto triangleMaterial = at<Geometry* (*)(Geometry*, Triangle*, Material*)>(kTriangleMaterial);
const auto lock = at<Geometry* (*)(Geometry*, std::int32_t)>(kLock);
const auto unlock = at<Geometry* (*)(Geometry*)>(kUnlock);
const auto setGeometry = at<Atomic* (*)(Atomic*, Geometry*, std::uint32_t)>(kSetGeometry);
const auto destroyGeometry = at<std::int32_t (*)(Geometry*)>(kDestroyGeometry);
const auto getLightStatus = at<std::int32_t(__attribute__((thiscall))*)(void*, std::int32_t)>(kGetLightStatus);

// Runs `misuse` and expects exactly one new host fault that mentions `words`.
template <typename Misuse>
void expectFault(const char* words, Misuse misuse) {
    const std::size_t before = hostFaults().size();
    misuse();
    ASSERT_EQ(hostFaults().size(), before + 1) << words;
    EXPECT_NE(hostFaults().back().find(words), std::string::npos) << hostFaults().back();
}

template <typename Use>
void expectNoFault(const char* what, Use use) {
    const std::size_t before = hostFaults().size();
    use();
    EXPECT_EQ(hostFaults().size(), before) << what << ": " << hostFaults().back();
}

// A one-triangle copy made the way the module makes one.
Geometry* oneTriangle(Material* material, bool finish) {
    Geometry* g = createGeometry(3, 1, kGeometryPositions | kGeometryNormals);
    triangleVertices(g, &g->triangles[0], 0, 1, 2);
    triangleMaterial(g, &g->triangles[0], material);
    if (finish) unlock(g);
    return g;
}

TEST(HostSim, GeometryMisuseIsAHostFault) {
    ASSERT_TRUE(startHost());
    Vehicle* car = spawnVehicle();
    Atomic* bonnet = atomicNamed(car, "bonnet_hi_ok");
    Material* material = newMaterial();

    expectFault("half-built", [&] { setGeometry(bonnet, oneTriangle(material, false), 0); });
    expectFault("vertex 3 of 3", [&] {
        Geometry* g = oneTriangle(material, false);
        g->triangles[0].vertex[2] = 3;
        unlock(g);
    });
    expectFault("material 1 of 1", [&] {
        Geometry* g = oneTriangle(material, false);
        g->triangles[0].material = 1;
        unlock(g);
    });

    Geometry* g = oneTriangle(material, true);
    expectFault("positions written without a lock", [&] {
        g->vertexBlock->positions[0].x = 1.0f;
        unlock(g);
    });
    expectFault("normals written without a lock", [&] {
        lock(g, kLockPositions);
        g->vertexBlock->normals[0].x = 0.5f;
        unlock(g);
    });
    expectNoFault("positions under lock 2 and normals under lock 6", [&] {
        lock(g, kLockPositions);
        g->vertexBlock->positions[1].y = 2.0f;
        unlock(g);
        lock(g, kLockPositions | kLockNormals);
        g->vertexBlock->normals[1].y = 0.5f;
        unlock(g);
    });
    expectFault("not open for triangles", [&] { triangleVertices(g, &g->triangles[0], 2, 1, 0); });

    // What the renderer meets when the host draws the car.
    expectNoFault("a finished geometry drawn", [&] {
        setGeometry(bonnet, g, 0);
        runFrame();
    });
    expectFault("changed after its last unlock", [&] {
        g->vertexBlock->positions[2].z = 3.0f;
        runFrame();
        lock(g, kLockPositions);
        unlock(g);
    });
    expectFault("left locked", [&] {
        lock(g, kLockPositions);
        runFrame();
        unlock(g);
    });

    // References: the atomic and the maker hold g; two releases leave the atomic drawing a dead geometry.
    expectNoFault("the maker's reference given back", [&] { destroyGeometry(g); });
    EXPECT_EQ(g->references, 1);
    expectFault("still draws it", [&] { destroyGeometry(g); });
    expectFault("dead or foreign", [&] { destroyGeometry(g); });
    expectFault("not a vehicle's damage state", [&] { getLightStatus(&car->damage.hostLights[1], 2); });
    expectFault("not a vehicle's damage state", [&] { getLightStatus(&car->damage, 4); });
}

TEST(HostSim, FailedCallsDoNothing) {
    ASSERT_TRUE(startHost());
    failCall(HostFunction::CreateGeometry, 2);
    EXPECT_NE(createGeometry(3, 1, 0), nullptr);
    EXPECT_EQ(createGeometry(3, 1, 0), nullptr);
    EXPECT_NE(createGeometry(3, 1, 0), nullptr);
    Geometry* g = moduleGeometries().back();
    ASSERT_NE(triangleVertices(g, &g->triangles[0], 0, 1, 2), nullptr);
    ASSERT_NE(triangleMaterial(g, &g->triangles[0], newMaterial()), nullptr);
    failCall(HostFunction::Unlock);
    EXPECT_EQ(unlock(g), nullptr);
    EXPECT_EQ(g->hostUnlocks, 0u);
    EXPECT_EQ(unlock(g), g);
    scenario::expectNoHostFaults();
}

// A refusal rule refuses only allocating calls; a copy whose making had a
// refused triangle call or extension copy must never be attached.
TEST(HostSim, GeometryWithARefusedCallInItsMakingIsNeverAttached) {
    ASSERT_TRUE(startHost());
    Vehicle* car = spawnVehicle();
    Atomic* bonnet = atomicNamed(car, "bonnet_hi_ok");
    const auto copyExtensions = at<std::int32_t (*)(void*, Geometry*, const Geometry*)>(kCopyExtensions);
    void* registry = reinterpret_cast<void*>(static_cast<std::uintptr_t>(kExtensionRegistry));
    bool refuse = false;
    refuseAllocatingCalls([&refuse](HostFunction) { return refuse; });

    // Its second triangle stays as created, which still reads as whole.
    Geometry* triangleRefused = createGeometry(3, 2, kGeometryPositions);
    triangleVertices(triangleRefused, &triangleRefused->triangles[0], 0, 1, 2);
    triangleMaterial(triangleRefused, &triangleRefused->triangles[0], newMaterial());
    refuse = true;
    EXPECT_EQ(triangleVertices(triangleRefused, &triangleRefused->triangles[1], 0, 2, 1), nullptr);
    EXPECT_EQ(unlock(triangleRefused), triangleRefused) << "unlock is not an allocating call";
    refuse = false;
    Geometry* extensionRefused = oneTriangle(newMaterial(), true);
    refuse = true;
    EXPECT_EQ(copyExtensions(registry, extensionRefused, bonnet->geometry), 0);
    refuse = false;
    EXPECT_EQ(refusals(HostFunction::TriangleVertices), 1u);
    EXPECT_EQ(refusals(HostFunction::CopyExtensions), 1u);
    EXPECT_EQ(refusals(HostFunction::Unlock), 0u);

    expectFault("refused", [&] { setGeometry(bonnet, triangleRefused, 0); });
    expectFault("refused", [&] { setGeometry(bonnet, extensionRefused, 0); });
    expectNoFault("a copy made whole", [&] { setGeometry(bonnet, oneTriangle(newMaterial(), true), 0); });
    refuseAllocatingCalls(nullptr);
}

// The game deletes a vehicle with its clump: nothing of it is live any more
// and its atomics' references are gone; a copy only its atomic held is destroyed.
TEST(HostSim, DestroyedVehicleLeavesNothingLiveAndDropsItsReferences) {
    ASSERT_TRUE(startHost());
    Vehicle* car = spawnVehicle();
    Vehicle* other = spawnVehicle();
    Atomic* bonnet = atomicNamed(car, "bonnet_hi_ok");
    Geometry* copy = oneTriangle(newMaterial(), true);
    setGeometry(bonnet, copy, 0);
    destroyGeometry(copy);  // only the atomic holds it
    const std::vector<Atomic*> atomics = clumpAtomics(car->clump);
    const Clump* clump = car->clump;
    Geometry* body = atomicNamed(car, "chassis")->geometry;
    const int bodyReferences = body->references;

    destroyVehicle(car);
    EXPECT_EQ(vehicleFromHandle(vehicleHandle(car)), nullptr);
    EXPECT_FALSE(isLiveClump(clump));
    for (const Atomic* atomic : atomics) {
        EXPECT_FALSE(isLiveAtomic(atomic));
        EXPECT_FALSE(isLiveFrame(atomic->frame));
    }
    EXPECT_EQ(body->references, bodyReferences - 1);
    EXPECT_TRUE(copy->hostDestroyed);
    EXPECT_TRUE(liveModuleGeometries().empty());
    EXPECT_TRUE(isLiveClump(other->clump)) << "the other car keeps its clump";
    scenario::expectNoHostFaults();
}

// Cars share their model's geometries: every atomic holds one reference, the
// model one more; each geometry's table holds its materials once.
TEST(HostSim, CarsShareTheirModelsGeometries) {
    ASSERT_TRUE(startHost());
    Vehicle* first = spawnVehicle();
    Vehicle* second = spawnVehicle();
    for (const char* name : {"chassis", "bonnet_hi_ok", "bump_rear_hi_ok"}) {
        Geometry* shared = atomicNamed(first, name)->geometry;
        EXPECT_EQ(atomicNamed(second, name)->geometry, shared) << name;
        EXPECT_EQ(shared->references, 3) << name;
        for (std::int32_t m = 0; m < shared->materialCount; ++m) EXPECT_EQ(shared->materials[m]->references, 1);
    }
    EXPECT_EQ(atomicNamed(first, "wheel_lf_dummy")->geometry->references, 9) << "one wheel for all eight";
    EXPECT_EQ(atomicNamed(first, "chassis")->geometry->vertexCount, kUsualBodyVertices);
    EXPECT_GE(atomicNamed(first, "chassis")->geometry->materialCount, 5);
    EXPECT_EQ(atomicNamed(first, "chassis")->geometry->texCoordSets, 2);
    EXPECT_EQ(clumpAtomics(first->clump).size(), 17u);

    const ReferenceLedger ledger = referenceLedger();
    attachGeometry(atomicNamed(second, "chassis"), newBoxGeometry());
    EXPECT_NE(ledgerDifferences(ledger, referenceLedger()), "");
    EXPECT_TRUE(liveModuleGeometries().empty());
    scenario::expectNoHostFaults();
}

Vec3 apply(const Matrix& m, Vec3 p) {
    return {p.x * m.right.x + p.y * m.forward.x + p.z * m.up.x + m.position.x,
            p.x * m.right.y + p.y * m.forward.y + p.z * m.up.y + m.position.y,
            p.x * m.right.z + p.y * m.forward.z + p.z * m.up.z + m.position.z};
}

// The frames follow the placement; the model information and the damage
// state sit where the host keeps them.
TEST(HostSim, FramesModelInformationAndLightsWhereTheHostKeepsThem) {
    ASSERT_TRUE(startHost());
    Vehicle* car = spawnVehicle();
    placeVehicle(car, {10.0f, -4.0f, 1.0f}, 1.2f);
    EXPECT_EQ(std::memcmp(&car->clump->frame->hostWorld, car->matrix, sizeof(Matrix)), 0);
    // The rear bumper's frame is turned round: its local +y points backward in the world.
    const Atomic* rear = atomicNamed(car, "bump_rear_hi_ok");
    const Vec3 tip = apply(rear->frame->hostWorld, {0.0f, 1.0f, 0.0f});
    const Vec3 expected = worldPoint(car, {0.0f, -3.25f, -0.2f});
    EXPECT_NEAR(tip.x, expected.x, 1e-4f);
    EXPECT_NEAR(tip.y, expected.y, 1e-4f);
    EXPECT_NEAR(tip.z, expected.z, 1e-4f);
    const Vec3 back = modelPoint(car, worldPoint(car, {0.3f, -1.0f, 0.2f}));
    EXPECT_NEAR(back.x, 0.3f, 1e-5f);
    EXPECT_NEAR(back.y, -1.0f, 1e-5f);

    std::uint32_t table = 0;
    std::memcpy(&table, reinterpret_cast<const void*>(static_cast<std::uintptr_t>(kModelInfoTableWord)), 4);
    ASSERT_NE(table, 0u);
    const auto* info = reinterpret_cast<const std::uint8_t* const*>(static_cast<std::uintptr_t>(table))[400];
    ASSERT_NE(info, nullptr);
    const std::uint8_t* structure = *reinterpret_cast<const std::uint8_t* const*>(info + 0x5C);
    float light[3];
    std::memcpy(light, structure + 0x0C, sizeof light);
    EXPECT_EQ(light[0], kRearLightPosition.x);
    EXPECT_EQ(light[1], kRearLightPosition.y);
    EXPECT_EQ(light[2], kRearLightPosition.z);

    const auto damage = reinterpret_cast<std::uint8_t*>(car) + 0x5A0;
    const auto setLightStatus =
        at<void(__attribute__((thiscall))*)(void*, std::int32_t, std::int32_t)>(kSetLightStatus);
    EXPECT_EQ(getLightStatus(damage, kRearLightLeft), 0);
    setLightStatus(damage, kRearLightLeft, 1);
    EXPECT_EQ(getLightStatus(damage, kRearLightLeft), 1);
    EXPECT_EQ(lightStatus(car, kRearLightLeft), 1);
    scenario::expectNoHostFaults();
}

}  // namespace
