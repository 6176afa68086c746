// A fake host with one tracked vehicle and its record, for tests that run the
// deformation driver over the vehicle's atomics.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "deform/atomic_driver.h"
#include "deform/records.h"
#include "deform/support/geometry_host.h"
#include "host/bindings.h"
#include "host/support/fake_host.h"
#include "host/support/log_capture.h"
#include "host/support/module_state.h"

namespace testdeform {

class VehicleUnderTest : public ::testing::Test {
protected:
    // Runs the driver over every atomic of the vehicle; the number of meshes it deformed.
    unsigned run(kerbmark::DentRequest& request) {
        game::atomics(vehicle->clump, kerbmark::deformAtomic, &request);
        return request.meshes;
    }

    static std::vector<dent::Vec> positionsOf(const host::Geometry* g) {
        return {g->vertexBlock->positions, g->vertexBlock->positions + g->vertexCount};
    }

    testhost::FakeHost host;
    GeometryHost geometries{host};
    testhost::LogCapture log;
    kerbmark::RecordList list;
    testhost::ModuleState moduleState{&list};
    host::Vehicle* vehicle = host.vehicle(0x105);
    kerbmark::VehicleRecord& record = kerbmark::appendRecord(list, vehicle, 0x105, vehicle->clump, 1000.0f, 0);
};

}  // namespace testdeform
