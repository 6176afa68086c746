// What must always hold while a random drive runs the module, seen from the
// host (the module is a black box):
//   - no host fault (misuse the real host would crash or leak on);
//   - right after a reset event the module holds none of its geometries;
//   - once the module has made no geometry call for a long while, with the
//     player on foot and no contact anywhere, every geometry it made is drawn;
//   - every vertex position and normal a car draws from the module is finite;
//   - a car draws no change from the module (moved or new copy) unless it had
//     a contact since its last restore (F7, repair, reset event), and the
//     model's shared geometries never change;
//   - the module's heap right after reset events does not keep growing.
// A car's meshes are looked at again only when the atomic draws another
// geometry or its geometry was unlocked since, so the checks stay cheap.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "host_records.h"
#include "module_heap.h"
#include "random_drive.h"

namespace hostsim {

// Whether the module's heap right after reset events keeps growing, as a
// leak makes it (at many of them), rather than in a few steps as work buffers
// reach their largest; `why` says how it grew.
bool heapKeepsGrowing(const std::vector<HeapUse>& afterResets, std::string& why);

class DriveChecks : public DriveObserver {
public:
    // `idleFrames`: how long the module makes no geometry call, the player on
    // foot and no contact anywhere, before a geometry it holds undrawn is a leak.
    explicit DriveChecks(int idleFrames);

    // Frames count from 1; events before a frame belong to it.
    void startFrame(std::uint32_t frame);
    // After the host's frame; `quiet`: the player was on foot and no car had a contact.
    void afterFrame(bool quiet);
    // After the last frame: the heap over the reset events.
    void afterDrive();

    // A failure seen outside the checks (an exception that reached the host).
    void fail(const std::string& what);
    bool failed() const { return !failure_.empty(); }
    const std::string& failure() const { return failure_; }
    std::uint32_t failureFrame() const { return failureFrame_; }

    // How often each check looked: meshes that changed, idle stretches, reset events.
    std::uint64_t changedMeshesSeen() const { return changedMeshesSeen_; }
    int idleChecks() const { return idleChecks_; }
    std::size_t mostLiveGeometries() const { return mostLiveGeometries_; }
    std::size_t heapSamples() const { return heapAfterResets_.size(); }
    HeapUse firstHeapAfterReset() const;
    HeapUse lastHeapAfterReset() const;

    void carCame(Vehicle* car) override;
    void carGoes(Vehicle* car) override;
    void contact(Vehicle* car) override;
    void restored(Vehicle* car) override;
    void resetEvent(std::uint32_t site) override;

private:
    struct WatchedAtomic {
        const Atomic* atomic;
        const Geometry* original;        // the model's, drawn at spawn
        std::uint32_t originalUnlocks;
        const Geometry* drawn;           // when last looked at
        std::uint32_t drawnUnlocks;
    };
    struct WatchedCar {
        std::vector<WatchedAtomic> atomics;
        std::uint32_t lastContact = 0;  // 0: none yet
        std::uint32_t lastRestore = 0;
    };

    void checkHostFaults();
    void checkCars();
    void checkAtomic(const Vehicle* car, const WatchedCar& watched, const WatchedAtomic& atomic);
    void checkIdleHolding(bool quiet);

    int idleFrames_;
    std::uint32_t frame_ = 0;
    std::string failure_;
    std::uint32_t failureFrame_ = 0;
    std::size_t faultsSeen_ = 0;
    std::unordered_map<const Vehicle*, WatchedCar> cars_;
    std::uint64_t geometryCalls_ = 0;
    std::uint32_t lastGeometryCallFrame_ = 0;
    int quietRun_ = 0;
    bool idleChecked_ = false;
    std::uint64_t changedMeshesSeen_ = 0;
    int idleChecks_ = 0;
    std::size_t mostLiveGeometries_ = 0;
    std::vector<HeapUse> heapAfterResets_;
};

}  // namespace hostsim
