// The module's start-up and frame code linked into the simulated host's own
// process, for what cannot be seen from outside the module: its vehicle
// records, its F7 state, and the outcomes of the hooking library.
#include <windows.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "deform/records.h"
#include "foundation/log.h"
#include "host/bindings.h"
#include "host/frame_update.h"
#include "host/keyboard.h"
#include "host/startup.h"
#include "host_checks.h"
#include "host_functions.h"
#include "host_image.h"
#include "host_world.h"
#include "module_loader.h"
#include "scenario_support.h"

namespace {

using hostsim::HostFunction;
using namespace scenario;

using Lines = std::vector<std::string>;

struct InProcess {
    Folder folder;
    std::string log;
};

// Host laid out, this program's own keyboard import answered by the host,
// and the module started as if it were the file Kerbmark.asi in the folder.
void startInProcess(InProcess& module, const std::string& ini = "") {
    ASSERT_TRUE(hostsim::startHost());
    ASSERT_TRUE(hostsim::replaceImport(GetModuleHandleA(nullptr), "user32.dll", "GetAsyncKeyState",
                                       reinterpret_cast<const void*>(&hostsim::hostGetAsyncKeyState)));
    writeText(module.folder.file("Kerbmark.ini"), ini);
    kerbmark::startFromPath(module.folder.file("Kerbmark.asi").c_str());
    module.log = module.folder.file("Kerbmark.log");
    ASSERT_EQ(readLog(module.log).lines, (Lines{kBanner, kActive}));
    ASSERT_NE(kerbmark::recordList, nullptr);
}

kerbmark::RecordList& records() { return *kerbmark::recordList; }

// A vehicle of three box parts, each with a geometry of its own: its originals
// hold two references each (model and atomic).
hostsim::Vehicle* spawnBoxVehicle(hostsim::VehicleSpec design = {}) {
    design.boxParts = {"chassis_dummy", "bonnet_dummy", "boot_dummy"};
    return hostsim::spawnVehicle(design);
}

// What the hit handler leaves behind for a dented vehicle: a record whose
// entries hold a copy on every atomic and one reference to each original.
struct Deformed {
    hostsim::Vehicle* vehicle;
    std::vector<hostsim::Geometry*> originals;
    std::vector<hostsim::Geometry*> copies;
};

Deformed deform(hostsim::Vehicle* vehicle) {
    Deformed deformed{vehicle, {}, {}};
    kerbmark::VehicleRecord& record =
        kerbmark::appendRecord(records(), vehicle, hostsim::vehicleHandle(vehicle), vehicle->clump, vehicle->health,
                               hostsim::fixed<std::uint32_t>(hostsim::kClock));
    for (hostsim::Atomic* atomic : hostsim::clumpAtomics(vehicle->clump)) {
        hostsim::Geometry* original = atomic->geometry;
        hostsim::Geometry* copy = hostsim::newBoxGeometry();
        std::vector<dent::Vec> rest(static_cast<std::size_t>(copy->vertexCount), dent::Vec{0.0f, 0.0f, 0.0f});
        EXPECT_NE(kerbmark::addMeshEntry(record, original, copy, rest), nullptr);
        game::setGeometry(atomic, copy, 0);
        deformed.originals.push_back(original);
        deformed.copies.push_back(copy);
    }
    return deformed;
}

const kerbmark::VehicleRecord* recordOf(const hostsim::Vehicle* vehicle) {
    return kerbmark::findRecord(records(), vehicle);
}

// Every atomic draws its original again, each original is back to its two
// references (model and atomic), and every copy is gone.
void expectRestored(const Deformed& deformed) {
    const std::vector<hostsim::Atomic*> atomics = hostsim::clumpAtomics(deformed.vehicle->clump);
    for (std::size_t i = 0; i < atomics.size(); ++i) {
        EXPECT_EQ(atomics[i]->geometry, deformed.originals[i]);
        EXPECT_EQ(deformed.originals[i]->references, 2);
        EXPECT_TRUE(deformed.copies[i]->hostDestroyed);
    }
}

void expectStillDeformed(const Deformed& deformed) {
    const std::vector<hostsim::Atomic*> atomics = hostsim::clumpAtomics(deformed.vehicle->clump);
    for (std::size_t i = 0; i < atomics.size(); ++i) {
        EXPECT_EQ(atomics[i]->geometry, deformed.copies[i]);
        EXPECT_FALSE(deformed.copies[i]->hostDestroyed);
    }
    const kerbmark::VehicleRecord* record = recordOf(deformed.vehicle);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->meshes.size(), atomics.size());
}

std::vector<void*> recordedVehicles() {
    std::vector<void*> vehicles;
    for (const auto& record : records().records) vehicles.push_back(record->vehicle);
    return vehicles;
}

TEST(Records, RepairedVehicleIsResetOthersKeepTheirDents) {
    InProcess module;
    startInProcess(module);
    hostsim::VehicleSpec design;
    design.health = 300.0f;
    const Deformed repaired = deform(spawnBoxVehicle(design));
    design.health = 500.0f;
    const Deformed patched = deform(spawnBoxVehicle(design));
    const Deformed damaged = deform(spawnBoxVehicle(design));
    hostsim::runFrame();
    expectStillDeformed(repaired);

    repaired.vehicle->health = 1000.0f;
    patched.vehicle->health = 525.0f;  // a rise of exactly 25 is no repair
    damaged.vehicle->health = 420.0f;
    hostsim::runFrame();

    expectRestored(repaired);
    const kerbmark::VehicleRecord* record = recordOf(repaired.vehicle);
    ASSERT_NE(record, nullptr) << "a repaired vehicle keeps its record";
    EXPECT_TRUE(record->meshes.empty());
    EXPECT_EQ(record->health, 1000.0f);
    EXPECT_EQ(record->healthDrop, 0.0f);

    expectStillDeformed(patched);
    EXPECT_EQ(recordOf(patched.vehicle)->healthDrop, -25.0f);
    expectStillDeformed(damaged);
    EXPECT_EQ(recordOf(damaged.vehicle)->healthDrop, 80.0f);
    EXPECT_EQ(recordOf(damaged.vehicle)->health, 420.0f);
    EXPECT_EQ(recordedVehicles(), (std::vector<void*>{repaired.vehicle, patched.vehicle, damaged.vehicle}));
    expectNoHostFaults();
}

TEST(Records, NonFiniteHealthNeverCountsAsRepair) {
    InProcess module;
    startInProcess(module);
    const Deformed deformed = deform(spawnBoxVehicle());
    deformed.vehicle->health = std::numeric_limits<float>::infinity();
    hostsim::runFrame();
    deformed.vehicle->health = std::numeric_limits<float>::quiet_NaN();
    hostsim::runFrame();
    expectStillDeformed(deformed);
    expectNoHostFaults();
}

TEST(Records, GoneOrRebuiltVehiclesLoseTheirRecordsInOrder) {
    InProcess module;
    startInProcess(module);
    const Deformed kept = deform(spawnBoxVehicle());
    const Deformed removed = deform(spawnBoxVehicle());
    const Deformed replaced = deform(spawnBoxVehicle());
    const Deformed rebuilt = deform(spawnBoxVehicle());
    const Deformed last = deform(spawnBoxVehicle());

    // The replaced vehicle's slot goes to a new vehicle at the same address.
    hostsim::Clump* const replacedClump = replaced.vehicle->clump;
    hostsim::removeVehicle(replaced.vehicle);
    ASSERT_EQ(spawnBoxVehicle(), replaced.vehicle);
    hostsim::removeVehicle(removed.vehicle);
    hostsim::Clump* const rebuiltClump = rebuilt.vehicle->clump;
    hostsim::rebuildClump(rebuilt.vehicle);
    hostsim::runFrame();

    EXPECT_EQ(recordedVehicles(), (std::vector<void*>{kept.vehicle, last.vehicle}));
    expectStillDeformed(kept);
    expectStillDeformed(last);
    // A dropped record leaves the vehicle alone: its atomics keep drawing the
    // copies, and only the record's own references were given back.
    const std::pair<const Deformed*, hostsim::Clump*> dropped[] = {
        {&removed, removed.vehicle->clump}, {&replaced, replacedClump}, {&rebuilt, rebuiltClump}};
    for (const auto& [deformed, clump] : dropped) {
        const std::vector<hostsim::Atomic*> atomics = hostsim::clumpAtomics(clump);
        for (std::size_t i = 0; i < atomics.size(); ++i) {
            EXPECT_EQ(atomics[i]->geometry, deformed->copies[i]);
            EXPECT_EQ(deformed->copies[i]->references, 1);
            EXPECT_EQ(deformed->originals[i]->references, 1);
        }
    }
    expectNoHostFaults();
}

TEST(Records, ResetSitesClearEveryRecordBeforeTheHostRuns) {
    InProcess module;
    startInProcess(module);
    for (std::uint32_t site : {hostsim::kResetSiteA, hostsim::kResetSiteB}) {
        const Deformed first = deform(spawnBoxVehicle());
        const Deformed second = deform(spawnBoxVehicle());
        const Deformed gone = deform(spawnBoxVehicle());
        hostsim::removeVehicle(gone.vehicle);

        bool hostRan = false;
        const auto atHost = [&] {
            hostRan = true;
            EXPECT_TRUE(records().records.empty()) << "records are cleared before the host's routine runs";
            expectRestored(first);
            expectRestored(second);
        };
        hostsim::events().resetWorkA = atHost;
        hostsim::events().resetWorkB = atHost;
        const std::uint32_t before = hostsim::calls(hostWorkOf(site));
        hostsim::callSite(site);
        EXPECT_TRUE(hostRan);
        EXPECT_EQ(hostsim::calls(hostWorkOf(site)) - before, 1u);
        // A vehicle that is gone is left as it was.
        EXPECT_EQ(hostsim::clumpAtomics(gone.vehicle->clump).front()->geometry, gone.copies.front());
        hostsim::removeVehicle(first.vehicle);
        hostsim::removeVehicle(second.vehicle);
    }
    expectNoHostFaults();
}

TEST(Records, UpkeepWaitsWhileTheHostHoldsWorkOff) {
    InProcess module;
    startInProcess(module);
    const Deformed gone = deform(spawnBoxVehicle());
    hostsim::removeVehicle(gone.vehicle);
    hostsim::fixed<std::uint8_t>(hostsim::kStateByteB) = 1;
    hostsim::runFrames(3);
    EXPECT_EQ(recordedVehicles(), (std::vector<void*>{gone.vehicle}));
    hostsim::fixed<std::uint8_t>(hostsim::kStateByteB) = 0;
    hostsim::runFrame();
    EXPECT_TRUE(recordedVehicles().empty());
    expectNoHostFaults();
}

TEST(Frame, F7GivesOneRequestPerPress) {
    InProcess module;
    startInProcess(module);
    hostsim::Vehicle* player = hostsim::spawnVehicle();
    hostsim::setPlayerVehicle(player);

    const auto frameWith = [](bool down) {
        hostsim::setKeyDown(hostsim::kKeyF7, down);
        kerbmark::FrameKeyboard keys;
        return kerbmark::readPlayerInput(records(), keys);
    };
    const kerbmark::PlayerInput first = frameWith(true);
    EXPECT_EQ(first.vehicle, player);
    EXPECT_TRUE(first.resetRequested);
    EXPECT_FALSE(frameWith(true).resetRequested) << "holding F7 gives no second request";
    EXPECT_FALSE(frameWith(true).resetRequested);
    EXPECT_FALSE(frameWith(false).resetRequested);
    EXPECT_TRUE(frameWith(true).resetRequested) << "a new press gives a new request";

    // A press on foot is used up there: getting in with F7 still held asks nothing.
    EXPECT_FALSE(frameWith(false).resetRequested);
    hostsim::setPlayerVehicle(nullptr);
    const kerbmark::PlayerInput onFoot = frameWith(true);
    EXPECT_EQ(onFoot.vehicle, nullptr);
    EXPECT_TRUE(onFoot.resetRequested);
    hostsim::setPlayerVehicle(player);
    const kerbmark::PlayerInput inVehicle = frameWith(true);
    EXPECT_EQ(inVehicle.vehicle, player);
    EXPECT_FALSE(inVehicle.resetRequested);
}

TEST(Frame, PhasesNameEachStepOfTheFrame) {
    InProcess module;
    startInProcess(module, "[General]\r\nDiagnostics=1\r\n");
    hostsim::setPlayerVehicle(hostsim::spawnVehicle());
    Lines seen;
    hostsim::events().anyCall = [&](HostFunction function) {
        if (function == HostFunction::FrameWork || function == HostFunction::PlayerVehicle)
            seen.push_back(kerbmark::phase);
    };
    hostsim::runFrame();
    EXPECT_EQ(seen, (Lines{"game process", "Kerbmark update"}));
    EXPECT_STREQ(kerbmark::phase, "game rendering / between updates");

    seen.clear();
    kerbmark::setPhase("startup");
    hostsim::fixed<std::uint8_t>(hostsim::kStateByteA) = 1;
    hostsim::runFrame();
    EXPECT_EQ(seen, (Lines{"game process"}));
    EXPECT_STREQ(kerbmark::phase, "game rendering / between updates");
    // Set directly, never written: not even with diagnostics on.
    EXPECT_EQ(readLog(module.log).lines, (Lines{kBanner, kActive, kGuardEnabled, kCollisionEnabled}));
}

TEST(Frame, F7IsSampledOnlyWhenTheWorkRuns) {
    InProcess module;
    startInProcess(module);
    hostsim::setKeyDown(hostsim::kKeyF7, true);
    hostsim::fixed<std::uint8_t>(hostsim::kStateByteA) = 1;
    hostsim::runFrames(2);
    EXPECT_EQ(hostsim::keyReads(hostsim::kKeyF7), 0u);
    EXPECT_FALSE(records().f7Down);

    // Still down at the first frame that works: seen then.
    hostsim::fixed<std::uint8_t>(hostsim::kStateByteA) = 0;
    hostsim::runFrame();
    EXPECT_EQ(hostsim::keyReads(hostsim::kKeyF7), 1u);
    EXPECT_TRUE(records().f7Down);
    hostsim::setKeyDown(hostsim::kKeyF7, false);
    hostsim::runFrame();
    EXPECT_FALSE(records().f7Down);
}

void noHostRoutine() {}
void otherReplacement() {}

// A start-up that stopped leaves no record list; a hook reached anyway (here:
// sites rewritten by hand) lets the host run and does nothing else.
TEST(Startup, StoppedModuleDoesNothingInReachedHooks) {
    ASSERT_TRUE(hostsim::startHost());
    ASSERT_TRUE(hostsim::replaceImport(GetModuleHandleA(nullptr), "user32.dll", "GetAsyncKeyState",
                                       reinterpret_cast<const void*>(&hostsim::hostGetAsyncKeyState)));
    Folder folder;
    std::snprintf(kerbmark::logPath, sizeof kerbmark::logPath, "%s", folder.file("Kerbmark.log").c_str());
    ASSERT_EQ(kerbmark::recordList, nullptr);
    ASSERT_TRUE(kerbmark::installProcessHooks());
    hostsim::setPlayerVehicle(hostsim::spawnVehicle());

    for (std::uint32_t site : kAllSites) expectSiteRunsHostOnce(site, 3);
    EXPECT_FALSE(fileExists(folder.file("Kerbmark.log")));
    EXPECT_EQ(hostsim::keyReads(hostsim::kKeyF7), 0u);
    EXPECT_EQ(hostsim::calls(HostFunction::PlayerVehicle), 0u);
    EXPECT_EQ(firstByte(hostsim::kAlphaRenderer), 0x55);
    EXPECT_FALSE(kerbmark::materialGuardAttempted);
    expectNoHostFaults();
}

TEST(CallSite, RewriteKeepsTheCallAndChains) {
    ASSERT_TRUE(hostsim::startHost());
    const std::uint32_t site = hostsim::kScratchCode;
    hostsim::writeCall(site, hostsim::kFrameWorkFunction);
    hostsim::fixed<std::uint8_t>(site + 5) = 0xC3;

    std::uintptr_t saved = 0;
    ASSERT_TRUE(kerbmark::rewriteCallSite(site, reinterpret_cast<const void*>(&noHostRoutine), saved));
    EXPECT_EQ(saved, hostsim::kFrameWorkFunction);
    EXPECT_EQ(firstByte(site), 0xE8);
    EXPECT_EQ(hostsim::relativeTarget(site), reinterpret_cast<std::uintptr_t>(&noHostRoutine));
    EXPECT_EQ(hostsim::fixed<std::uint8_t>(site + 5), 0xC3) << "only the displacement is written";

    // A second rewrite chains to the first replacement.
    std::uintptr_t chained = 0;
    ASSERT_TRUE(kerbmark::rewriteCallSite(site, reinterpret_cast<const void*>(&otherReplacement), chained));
    EXPECT_EQ(chained, reinterpret_cast<std::uintptr_t>(&noHostRoutine));

    // A call backwards (negative displacement) is followed as well.
    const std::uint32_t backwards = hostsim::kScratchCode + 0x800;
    hostsim::writeCall(backwards, hostsim::kScratchCode + 0x10);
    ASSERT_TRUE(kerbmark::rewriteCallSite(backwards, reinterpret_cast<const void*>(&noHostRoutine), saved));
    EXPECT_EQ(saved, hostsim::kScratchCode + 0x10);
}

TEST(CallSite, RefusesSitesItCannotRewrite) {
    ASSERT_TRUE(hostsim::startHost());
    for (std::uint8_t opcode : {0xE9, 0xEB, 0xFF, 0x90}) {
        const std::uint32_t site = hostsim::kScratchCode;
        hostsim::writeCall(site, hostsim::kFrameWorkFunction);
        hostsim::fixed<std::uint8_t>(site) = opcode;
        std::uint8_t before[5];
        std::memcpy(before, reinterpret_cast<const void*>(site), 5);
        std::uintptr_t saved = 0x1234;
        EXPECT_FALSE(kerbmark::rewriteCallSite(site, reinterpret_cast<const void*>(&noHostRoutine), saved));
        EXPECT_EQ(saved, 0x1234u) << "nothing is saved for a refused site";
        EXPECT_EQ(std::memcmp(before, reinterpret_cast<const void*>(site), 5), 0);
    }

    // A near call in a read-only view of shared memory: it cannot be made
    // writable, so it stays as it was; its target was already saved.
    HANDLE section = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, nullptr);
    ASSERT_NE(section, nullptr);
    auto* writable = static_cast<std::uint8_t*>(MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, 4096));
    auto* readOnly = static_cast<const std::uint8_t*>(MapViewOfFile(section, FILE_MAP_READ, 0, 0, 4096));
    ASSERT_TRUE(writable && readOnly);
    const std::uint8_t call[5] = {0xE8, 0x10, 0x00, 0x00, 0x00};
    std::memcpy(writable, call, sizeof call);
    const auto site = reinterpret_cast<std::uintptr_t>(readOnly);
    std::uintptr_t saved = 0;
    EXPECT_FALSE(kerbmark::rewriteCallSite(site, reinterpret_cast<const void*>(&noHostRoutine), saved));
    EXPECT_EQ(saved, site + 5 + 0x10);
    EXPECT_EQ(std::memcmp(readOnly, call, sizeof call), 0);
}

// ------------------------------------------------------------ hook installation outcomes

struct FakeHooking {
    static MH_STATUS initializeStatus, createStatus, enableStatus;
    static std::vector<std::string> calls;
    static LPVOID target;

    static MH_STATUS WINAPI initialize() {
        calls.push_back("initialize");
        return initializeStatus;
    }
    static MH_STATUS WINAPI createHook(LPVOID hookTarget, LPVOID, LPVOID* original) {
        calls.push_back("create");
        target = hookTarget;
        if (createStatus == MH_OK) *original = trampoline();
        return createStatus;
    }
    static MH_STATUS WINAPI enableHook(LPVOID hookTarget) {
        calls.push_back(hookTarget == target ? "enable" : "enable elsewhere");
        return enableStatus;
    }
    static MH_STATUS WINAPI removeHook(LPVOID hookTarget) {
        calls.push_back(hookTarget == target ? "remove" : "remove elsewhere");
        return MH_OK;
    }
    static void* trampoline() { return reinterpret_cast<void*>(0x7F001000); }
};
MH_STATUS FakeHooking::initializeStatus = MH_OK;
MH_STATUS FakeHooking::createStatus = MH_OK;
MH_STATUS FakeHooking::enableStatus = MH_OK;
std::vector<std::string> FakeHooking::calls;
LPVOID FakeHooking::target = nullptr;

const kerbmark::HookingApi kFake = {&FakeHooking::initialize, &FakeHooking::createHook, &FakeHooking::enableHook,
                                    &FakeHooking::removeHook};

struct Outcome {
    std::uint8_t firstByte;
    MH_STATUS initialize, create, enable;
    const char* kerbmark::HookMessages::*line;
    bool enabled;
    Lines calls;
    void* saved;  // what the saved pointer holds afterwards
};

TEST(Hooks, EveryInstallOutcomeWritesExactlyItsLine) {
    Folder folder;
    const std::string log = folder.file("Kerbmark.log");
    std::snprintf(kerbmark::logPath, sizeof kerbmark::logPath, "%s", log.c_str());
    void* const untouched = reinterpret_cast<void*>(0x5A5A5A5A);
    void* const trampoline = FakeHooking::trampoline();
    using M = kerbmark::HookMessages;
    const Outcome outcomes[] = {
        {0xE9, MH_OK, MH_OK, MH_OK, &M::alreadyHooked, false, {}, untouched},
        {0xEB, MH_OK, MH_OK, MH_OK, &M::alreadyHooked, false, {}, untouched},
        {0xFF, MH_OK, MH_OK, MH_OK, &M::alreadyHooked, false, {}, untouched},
        {0x55, MH_ERROR_NOT_INITIALIZED, MH_OK, MH_OK, &M::initializationFailed, false, {"initialize"}, untouched},
        {0x55, MH_UNKNOWN, MH_OK, MH_OK, &M::initializationFailed, false, {"initialize"}, untouched},
        {0x55, MH_OK, MH_ERROR_UNSUPPORTED_FUNCTION, MH_OK, &M::creationFailed, false, {"initialize", "create"},
         untouched},
        {0x55, MH_OK, MH_OK, MH_ERROR_MEMORY_PROTECT, &M::activationFailed, false,
         {"initialize", "create", "enable", "remove"}, nullptr},
        {0x55, MH_OK, MH_OK, MH_OK, &M::enabled, true, {"initialize", "create", "enable"}, trampoline},
        {0x55, MH_ERROR_ALREADY_INITIALIZED, MH_OK, MH_OK, &M::enabled, true, {"initialize", "create", "enable"},
         trampoline},
    };
    Lines expectedLog;
    for (const M* messages : {&kerbmark::kMaterialGuardMessages, &kerbmark::kCollisionHookMessages}) {
        for (const Outcome& outcome : outcomes) {
            std::uint8_t code[8] = {outcome.firstByte, 0x8B, 0xEC, 0x83, 0xEC, 0x08, 0xC3, 0xCC};
            FakeHooking::initializeStatus = outcome.initialize;
            FakeHooking::createStatus = outcome.create;
            FakeHooking::enableStatus = outcome.enable;
            FakeHooking::calls.clear();
            void* saved = untouched;
            const bool enabled = kerbmark::installGuardedHook(reinterpret_cast<std::uintptr_t>(code),
                                                              reinterpret_cast<void*>(&noHostRoutine), &saved,
                                                              *messages, kFake);
            expectedLog.push_back(messages->*outcome.line);
            EXPECT_EQ(enabled, outcome.enabled) << messages->*outcome.line;
            EXPECT_EQ(FakeHooking::calls, outcome.calls) << messages->*outcome.line;
            EXPECT_EQ(saved, outcome.saved) << messages->*outcome.line;
            EXPECT_EQ(readLog(log).lines, expectedLog);
        }
    }
}

}  // namespace
