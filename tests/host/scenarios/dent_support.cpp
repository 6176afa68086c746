#include "dent_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "host_checks.h"
#include "host_functions.h"
#include "host_image.h"
#include "module_loader.h"

namespace scenario {

const char kPlayerReset[] = "Player deformation reset.";
const char kCloneFailed[] = "Geometry clone failed; mesh skipped.";
const char kInvalidSourceTable[] = "MaterialGuard: invalid source material table; clone skipped.";

Dent defaultResponse(float impact) {
    float t = (impact - 0.04f) / (0.65f - 0.04f);
    t = std::min(1.0f, t);
    if (t < 0.0f) t = 0.0f;
    const float p = static_cast<float>(std::pow(static_cast<double>(t), static_cast<double>(1.15f)));
    const float s = std::min(1.0f, std::max(0.0f, p));
    return {0.65f * s, 1.1f + (2.25f - 1.1f) * std::sqrt(s)};
}

float defaultWeight(float distance, float radius) {
    if (!(distance < radius)) return 0.0f;
    float t = std::min(1.0f, 1.0f - distance / radius);
    if (t < 0.0f) t = 0.0f;
    const float s = t * t * (3.0f - 2.0f * t);
    return static_cast<float>(std::pow(static_cast<double>(s), static_cast<double>(0.65f)));
}

void startDriven(DrivenHost& host, const std::string& ini, const hostsim::VehicleSpec& design,
                 const hostsim::HostOptions& options) {
    ASSERT_TRUE(hostsim::startHost(options));
    host.player = hostsim::spawnVehicle(design);
    ASSERT_NE(host.player, nullptr);
    hostsim::setPlayerVehicle(host.player);
    ASSERT_NE(hostsim::loadModule(host.folder.installModule(ini)), nullptr);
    host.log = host.folder.file("Kerbmark.log");
    hostsim::runFrame();
    ASSERT_EQ(readLog(host.log).lines, (std::vector<std::string>{kBanner, kActive, kGuardEnabled, kCollisionEnabled}));
    host.rest = hostsim::snapshotVehicle(host.player);
    host.ledger = hostsim::referenceLedger();
}

void retakeLedger(DrivenHost& host) { host.ledger = hostsim::referenceLedger(); }

hostsim::Vehicle* trafficAt(hostsim::Vec3 position, std::int16_t modelId) {
    hostsim::VehicleSpec design;
    design.modelId = modelId;
    design.position = position;
    return hostsim::spawnVehicle(design);
}

std::size_t copiesOn(const hostsim::Vehicle* vehicle) {
    std::size_t copies = 0;
    for (const hostsim::Atomic* atomic : hostsim::clumpAtomics(vehicle->clump))
        copies += atomic->geometry->hostMadeByModule ? 1 : 0;
    return copies;
}

std::vector<std::string> linesStartingWith(const std::string& log, const std::string& prefix) {
    std::vector<std::string> found;
    for (const std::string& line : readLog(log).lines)
        if (line.compare(0, prefix.size(), prefix) == 0) found.push_back(line);
    return found;
}

namespace {

std::string valueOf(const std::string& line, const std::string& key) {
    const std::size_t at = line.find(" " + key + "=");
    if (at == std::string::npos) return {};
    const std::size_t start = at + key.size() + 2;
    return line.substr(start, line.find(' ', start) - start);
}

}  // namespace

std::vector<HitLine> hitLines(const std::string& log) {
    std::vector<HitLine> hits;
    for (const std::string& line : linesStartingWith(log, "Hit:")) {
        HitLine hit;
        hit.actor = valueOf(line, "actor");
        hit.handle = std::atoi(valueOf(line, "handle").c_str());
        hit.model = std::atoi(valueOf(line, "model").c_str());
        hit.episode = static_cast<unsigned>(std::strtoul(valueOf(line, "episode").c_str(), nullptr, 10));
        hit.depth = std::strtof(valueOf(line, "depth").c_str(), nullptr);
        hit.radius = std::strtof(valueOf(line, "radius").c_str(), nullptr);
        hit.meshes = static_cast<unsigned>(std::strtoul(valueOf(line, "meshes").c_str(), nullptr, 10));
        hits.push_back(hit);
    }
    return hits;
}

void holdContact(hostsim::Vehicle* vehicle, float impact, hostsim::Vec3 point, hostsim::Vec3 normal, int frames) {
    for (int i = 0; i < frames; ++i) {
        hostsim::setContact(vehicle, impact, point, normal);
        hostsim::runFrame();
    }
    hostsim::clearCollision(vehicle);
    hostsim::runFrames(kPlayerHitFrames - 1);
}

void settleTrafficWork() { hostsim::runFrames(60); }

void quietFrames(hostsim::Vehicle* vehicle, int frames) {
    hostsim::clearCollision(vehicle);
    hostsim::runFrames(frames);
}

float largestMove(const hostsim::VehicleSnapshot& now, const hostsim::VehicleSnapshot& rest) {
    float largest = 0.0f;
    for (std::size_t p = 0; p < now.size() && p < rest.size(); ++p)
        for (float moved : hostsim::movedFrom(now[p], rest[p])) largest = std::max(largest, moved);
    return largest;
}

const hostsim::PartSnapshot* part(const hostsim::VehicleSnapshot& snapshot, const std::string& name) {
    for (const hostsim::PartSnapshot& each : snapshot)
        if (each.name == name) return &each;
    return nullptr;
}

std::size_t collisionVertexCount(const hostsim::ColData& data) {
    std::size_t vertices = 0;
    for (int t = 0; t < data.triangleCount; ++t)
        for (std::uint16_t v : data.triangles[t].vertex) vertices = std::max<std::size_t>(vertices, v + 1u);
    return vertices;
}

void expectLedgerUnchanged(const DrivenHost& host) {
    EXPECT_EQ(hostsim::ledgerDifferences(host.ledger, hostsim::referenceLedger()), "");
    EXPECT_TRUE(hostsim::liveModuleGeometries().empty())
        << hostsim::liveModuleGeometries().size() << " copies made by the module are still alive";
}

void expectAllRestored(const DrivenHost& host, const hostsim::Vehicle* vehicle, const hostsim::VehicleSnapshot& rest) {
    const hostsim::VehicleSnapshot now = hostsim::snapshotVehicle(vehicle);
    ASSERT_EQ(now.size(), rest.size());
    for (std::size_t i = 0; i < now.size(); ++i) {
        EXPECT_EQ(now[i].geometry, rest[i].geometry) << now[i].name;
        if (now[i].positions.size() != rest[i].positions.size()) continue;
        EXPECT_EQ(std::memcmp(now[i].positions.data(), rest[i].positions.data(),
                              now[i].positions.size() * sizeof(hostsim::Vec3)),
                  0)
            << now[i].name;
    }
    expectLedgerUnchanged(host);
}

namespace {

std::string hexFloats(const float* values, std::size_t count) {
    std::string text;
    char word[12];
    for (std::size_t i = 0; i < count; ++i) {
        std::uint32_t bits;
        std::memcpy(&bits, &values[i], sizeof bits);
        std::snprintf(word, sizeof word, "%08x ", static_cast<unsigned>(bits));
        text += word;
    }
    return text;
}

}  // namespace

std::string vehicleState(hostsim::Vehicle* car, bool restored, const hostsim::Vehicle* gone) {
    std::ostringstream out;
    out << "vehicle " << hostsim::vehicleHandle(car) << " lights";
    for (int light = 0; light < 4; ++light) out << ' ' << int{hostsim::lightStatus(car, light)};
    out << '\n';
    for (const hostsim::Atomic* atomic : hostsim::clumpAtomics(car->clump)) {
        const hostsim::Geometry* g = atomic->geometry;
        const int flags = restored ? atomic->flags & ~1 : atomic->flags;
        int references = g->references;
        if (gone)
            for (const hostsim::Atomic* other : hostsim::clumpAtomics(gone->clump)) references -= other->geometry == g;
        out << " atomic " << atomic->frame->hostName << " flags " << flags << " sphere "
            << hexFloats(atomic->boundingSphere, 4) << " copy " << g->hostMadeByModule << " refs " << references
            << " vertices " << g->vertexCount << " triangles " << g->triangleCount << '\n';
        const hostsim::VertexBlock* block = g->vertexBlock;
        out << "  block " << hexFloats(block->boundingSphere, 4) << '\n';
        out << "  positions " << hexFloats(&block->positions[0].x, 3 * static_cast<std::size_t>(g->vertexCount))
            << '\n';
        if (block->normals)
            out << "  normals " << hexFloats(&block->normals[0].x, 3 * static_cast<std::size_t>(g->vertexCount))
                << '\n';
        out << "  faces";
        for (int t = 0; t < g->triangleCount; ++t)
            out << ' ' << g->triangles[t].vertex[0] << ',' << g->triangles[t].vertex[1] << ','
                << g->triangles[t].vertex[2] << ',' << g->triangles[t].material;
        out << '\n';
    }
    const auto* model = static_cast<const hostsim::ColModel*>(hostsim::colModelOf(car));
    out << " collision " << hexFloats(&model->boxMin.x, 10) << '\n';
    if (const hostsim::ColData* data = model->data) {
        out << "  spheres";
        for (int s = 0; s < data->sphereCount; ++s) out << ' ' << hexFloats(&data->spheres[s].centre.x, 4);
        out << "\n  boxes";
        for (int b = 0; b < data->boxCount; ++b) out << ' ' << hexFloats(&data->boxes[b].min.x, 6);
        out << "\n  faces";
        const std::size_t vertices = collisionVertexCount(*data);
        for (std::size_t v = 0; v < vertices; ++v)
            out << ' ' << data->vertices[v].x << ',' << data->vertices[v].y << ',' << data->vertices[v].z;
        out << '\n';
    }
    return out.str();
}


}  // namespace scenario
