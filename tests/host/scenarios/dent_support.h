// What the dent scenarios share: the built module loaded into the simulated
// host with the player in a car, scripted contacts, the module's per-hit log
// lines read back, and the checks that every change was undone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host_geometry.h"
#include "host_image.h"
#include "host_records.h"
#include "host_world.h"
#include "scenario_support.h"
#include "vehicle_view.h"

namespace scenario {

extern const char kPlayerReset[];
extern const char kCloneFailed[];
extern const char kInvalidSourceTable[];

// The default settings' response, as the module computes it.
struct Dent {
    float depth, radius;
};
Dent defaultResponse(float impact);
// The default dent profile at distance d from the contact (FalloffPower 0.65).
float defaultWeight(float distance, float radius);

// The host with the module active and its hooks installed (one frame run),
// the player in a car.
struct DrivenHost {
    Folder folder;
    std::string log;
    hostsim::Vehicle* player = nullptr;
    hostsim::VehicleSnapshot rest;    // the player's car before any contact
    hostsim::ReferenceLedger ledger;  // every reference count before any contact
};

// Lays out the host (`options`), spawns the player's car (`design`), loads the
// module with `ini` and runs the first frame. Takes the rest snapshot and the ledger.
void startDriven(DrivenHost& host, const std::string& ini = "", const hostsim::VehicleSpec& design = {},
                 const hostsim::HostOptions& options = {});
// Takes the ledger again (after spawning more vehicles).
void retakeLedger(DrivenHost& host);
// A traffic car of `modelId` at `position`, facing +y.
hostsim::Vehicle* trafficAt(hostsim::Vec3 position, std::int16_t modelId = 401);
// Atomics of the vehicle that draw a copy made by the module.
std::size_t copiesOn(const hostsim::Vehicle* vehicle);

// One "Hit:" line of the log, its fields read back.
struct HitLine {
    std::string actor;
    int handle = 0;
    int model = 0;
    unsigned episode = 0;
    float depth = 0.0f;
    float radius = 0.0f;
    unsigned meshes = 0;
};
std::vector<HitLine> hitLines(const std::string& log);
// Lines that begin with `prefix`.
std::vector<std::string> linesStartingWith(const std::string& log, const std::string& prefix);

// Frames a player's hit takes to show on the usual car with the default
// work budget: a first hit before the car is prepared is spread over five.
constexpr int kPlayerHitFrames = 5;
// A contact in the vehicle's model frame that stays for `frames` frames
// (the host reports it again every frame), then is gone for the frames the
// player's hit may still take.
void holdContact(hostsim::Vehicle* vehicle, float impact, hostsim::Vec3 point, hostsim::Vec3 normal, int frames);
// Frames for a traffic hit's mesh work, spread over frames by the default
// work budget, to be done (a car's first hit takes about twenty); also for
// the first hit of a large player's car that was not prepared.
void settleTrafficWork();
// Frames without any contact.
void quietFrames(hostsim::Vehicle* vehicle, int frames);

// Largest distance of any vertex of any part from its place in `rest`.
float largestMove(const hostsim::VehicleSnapshot& now, const hostsim::VehicleSnapshot& rest);
const hostsim::PartSnapshot* part(const hostsim::VehicleSnapshot& snapshot, const std::string& name);
// Vertices a collision model's faces use (its vertex array has no count of its own).
std::size_t collisionVertexCount(const hostsim::ColData& data);

// Every atomic draws its original geometry again with its rest positions,
// every reference count equals the ledger's, and no copy made by the module
// is left.
void expectAllRestored(const DrivenHost& host, const hostsim::Vehicle* vehicle, const hostsim::VehicleSnapshot& rest);
void expectLedgerUnchanged(const DrivenHost& host);

// Everything the module may have changed on a vehicle, as text. Bit 0 of an
// atomic's flags says that the module deformed it once and stays through a
// reset: `restored` leaves it out for a car restored before its queued work ran.
// A shared geometry's references leave out those of a car that left the pool
// (`gone`): it draws its copies when it was dented before it left.
std::string vehicleState(hostsim::Vehicle* car, bool restored, const hostsim::Vehicle* gone);

}  // namespace scenario
