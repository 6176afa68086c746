// The module under the x87 precision the game's renderer leaves on the game
// thread (24 bits): the same drive at 24-bit and at full precision gives the
// same bits in every mesh, panel fold, collision model and per-hit line, and no
// call into the module changes the x87 control word. Each drive runs in a
// process of its own (a loaded module cannot be loaded again).
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "dent_support.h"
#include "foundation/fpu.h"
#include "foundation/temp_dir.h"
#include "host_checks.h"
#include "host_functions.h"
#include "host_image.h"

namespace {

using hostsim::Vec3;
using namespace scenario;

// "<24|default>|<dump path>" in a drive's own process.
const char kDriveVariable[] = "KERBMARK_X87_DRIVE";
const char kScenario[] = "X87.DriveGivesTheSameBitsAtGameAndFullPrecision";

template <typename T>
void appendWords(std::string& out, const T* items, std::size_t count) {
    const std::size_t bytes = count * sizeof(T);
    const auto* start = reinterpret_cast<const unsigned char*>(items);
    char hex[4];
    for (std::size_t i = 0; i < bytes; ++i) {
        std::snprintf(hex, sizeof hex, "%02x", start[i]);
        out += hex;
        if (i % 32 == 31) out += '\n';
    }
    out += '\n';
}

// Every bit the drive left: the player's meshes (positions and normals), its
// collision model and the module's per-hit lines.
std::string driveState(const DrivenHost& host) {
    std::string out;
    for (const hostsim::PartSnapshot& part : hostsim::snapshotVehicle(host.player)) {
        out += "part " + part.name + " vertices " + std::to_string(part.positions.size()) + "\n";
        appendWords(out, part.positions.data(), part.positions.size());
        const hostsim::Geometry* geometry = part.geometry;
        if (geometry->vertexBlock && geometry->vertexBlock->normals) {
            out += "normals\n";
            appendWords(out, geometry->vertexBlock->normals, static_cast<std::size_t>(geometry->vertexCount));
        }
    }
    const auto* model = static_cast<const hostsim::ColModel*>(hostsim::colModelOf(host.player));
    if (model) {
        const hostsim::ColData* data = model->data;
        out += "collision bounds\n";
        appendWords(out, reinterpret_cast<const float*>(model), 10);
        out += "collision spheres " + std::to_string(data->sphereCount) + "\n";
        appendWords(out, data->spheres, data->sphereCount);
        out += "collision boxes " + std::to_string(data->boxCount) + "\n";
        appendWords(out, data->boxes, data->boxCount);
        const std::size_t vertices = collisionVertexCount(*data);
        out += "collision vertices " + std::to_string(vertices) + "\n";
        appendWords(out, data->vertices, vertices);
    }
    for (const char* prefix : {"Hit:", "PanelSurface:", "PanelFold:", "Collision:"})
        for (const std::string& line : linesStartingWith(host.log, prefix)) out += line + "\n";
    return out;
}

// The drive in this process: a front crash into a wall (bonnet on the surface
// path), a rear hit (boot), a scrape along the side (ordinary path), the
// collision model asked for and every atomic drawn through the renderer.
void driveAndDump(const std::string& request) {
    const std::size_t bar = request.find('|');
    ASSERT_NE(bar, std::string::npos);
    hostsim::GameX87 mode;
    ASSERT_TRUE(hostsim::parseGameX87(request.substr(0, bar).c_str(), mode));
    hostsim::setGameX87(mode);
    const std::uint16_t start = dent::x87ControlWord();
    const std::uint16_t given =
        mode == hostsim::GameX87::Precision24 ? dent::x87WithPrecision(start, dent::kX87Precision24) : start;
    if (mode == hostsim::GameX87::Process) {
        ASSERT_EQ(start & dent::kX87PrecisionAndRounding, dent::kX87Precision64) << "the process starts at 64 bits";
    }
    // Every host function the module (or the host) calls runs with the game's word.
    std::set<std::uint16_t> wordsSeen;
    hostsim::events().anyCall = [&](hostsim::HostFunction) { wordsSeen.insert(dent::x87ControlWord()); };

    DrivenHost host;
    startDriven(host);
    holdContact(host.player, 0.5f, {0.0f, 2.3f, -0.05f}, {0.0f, 1.0f, 0.0f}, 2);
    holdContact(host.player, 0.45f, {0.0f, -2.3f, 0.0f}, {0.0f, -1.0f, 0.0f}, 2);
    holdContact(host.player, 0.3f, {0.9f, 0.4f, 0.1f}, {1.0f, 0.0f, 0.0f}, 2);
    quietFrames(host.player, 2);
    for (hostsim::Atomic* atomic : hostsim::clumpAtomics(host.player->clump)) hostsim::drawAlpha(atomic);

    EXPECT_EQ(linesStartingWith(host.log, "PanelSurface: kind=bonnet").size(), 1u);
    EXPECT_EQ(linesStartingWith(host.log, "PanelSurface: kind=boot").size(), 1u);
    EXPECT_GE(hitLines(host.log).size(), 3u);
    EXPECT_GT(largestMove(hostsim::snapshotVehicle(host.player), host.rest), 0.05f);
    const std::string state = driveState(host);
    hostsim::events().anyCall = nullptr;
    EXPECT_EQ(wordsSeen, std::set<std::uint16_t>{given});
    EXPECT_EQ(dent::x87ControlWord(), start);
    expectNoHostFaults();  // includes every call that returned another x87 word than it was given
    std::ofstream(request.substr(bar + 1), std::ios::binary) << state;
}

std::string firstDifference(const std::string& a, const std::string& b) {
    std::istringstream left(a), right(b);
    for (int line = 1; left || right; ++line) {
        std::string l, r;
        std::getline(left, l);
        std::getline(right, r);
        if (l != r) return "line " + std::to_string(line) + ":\n  24 bits: " + l + "\n  default: " + r;
    }
    return "none";
}

TEST(X87, DriveGivesTheSameBitsAtGameAndFullPrecision) {
    if (const char* request = std::getenv(kDriveVariable)) {
        driveAndDump(request);
        return;
    }
    Folder folder;
    std::string dumps[2];
    const char* modes[2] = {"24", "default"};
    for (int i = 0; i < 2; ++i) {
        const std::string where = folder.file(std::string("x87-") + modes[i]);
        CreateDirectoryA(where.c_str(), nullptr);
        const std::string dump = where + "\\state.txt";
        EXPECT_EQ(runSelf(kDriveVariable, std::string(modes[i]) + "|" + dump, kScenario, where), 0)
            << "the drive at x87 " << modes[i];
        dumps[i] = readFile(dump);
    }
    ASSERT_NE(dumps[0].find("PanelSurface: kind=bonnet"), std::string::npos);
    ASSERT_NE(dumps[0].find("collision spheres"), std::string::npos);
    EXPECT_TRUE(dumps[0] == dumps[1]) << "first difference: " << firstDifference(dumps[0], dumps[1]);
}

}  // namespace
