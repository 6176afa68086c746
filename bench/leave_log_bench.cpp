// Two rows of frame costs outside the hit path, 32-bit under Wine, thread CPU
// time (medians):
//
//   leave_log_bench <Kerbmark.asi> [work folder]
//
//   - 32 dented traffic cars leave the pool at once: the module's frame work
//     (the call at the host's frame site) in the frame they leave and the
//     largest of the frames after, until their records are released;
//   - a frame's log writes with 30 lines, written by the module's own log
//     code linked into this program: line by line as outside a frame, and
//     held for the frame's one write.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "cpu_clock.h"
#include "foundation/log.h"
#include "host_functions.h"
#include "host_image.h"
#include "host_world.h"
#include "module_loader.h"

namespace {

constexpr int kCars = 32;
constexpr int kLines = 30;
constexpr int kAfterFrames = 12;
const hostsim::Vec3 kFront{0.0f, 2.3f, 0.5f};
const hostsim::Vec3 kHeadOn{0.0f, 1.0f, 0.0f};

bool installModule(const std::string& from, const std::string& folder) {
    CreateDirectoryA(folder.c_str(), nullptr);
    if (!CopyFileA(from.c_str(), (folder + "\\Kerbmark.asi").c_str(), FALSE)) return false;
    std::FILE* ini = std::fopen((folder + "\\Kerbmark.ini").c_str(), "w");
    if (!ini) return false;
    std::fputs("[General]\nLogHits=1\n", ini);  // otherwise the default INI
    return std::fclose(ini) == 0;
}

std::vector<hostsim::Vehicle*> spawnTraffic() {
    std::vector<hostsim::Vehicle*> cars;
    for (int i = 0; i < kCars; ++i) {
        hostsim::VehicleSpec design;
        design.modelId = static_cast<std::int16_t>(401 + i % 3);
        design.position =
            hostsim::Vec3{static_cast<float>(i % 8) * 6.0f - 21.0f, static_cast<float>(i / 8) * 8.0f + 10.0f, 0.0f};
        if (hostsim::Vehicle* car = hostsim::spawnVehicle(design)) cars.push_back(car);
    }
    return cars;
}

double frameWork() {
    hostsim::advanceClock(33);
    const double start = bench::threadSeconds();
    hostsim::callSite(hostsim::kFrameSite);
    const double seconds = bench::threadSeconds() - start;
    hostsim::renderVehicles();
    return seconds;
}

struct Leaving {
    std::vector<double> frames;  // the module's frame work, from the frame they leave in
    std::uint32_t releases = 0;  // geometry references given back meanwhile
    int releasing = 0;           // frames until the last of them
};

// Dents 32 fresh cars (until no dent has been done for 30 frames), then
// removes them all and runs the frames after.
Leaving leavingFrames() {
    std::vector<hostsim::Vehicle*> cars = spawnTraffic();
    hostsim::runFrames(2);
    for (hostsim::Vehicle* car : cars) hostsim::setContact(car, 0.3f, kFront, kHeadOn);
    for (int quiet = 0, f = 0; quiet < 30 && f < 3000; ++f) {
        const std::uint32_t unlocks = hostsim::calls(hostsim::HostFunction::Unlock);
        hostsim::runFrame();
        hostsim::advanceClock(33);
        quiet = hostsim::calls(hostsim::HostFunction::Unlock) != unlocks ? 0 : quiet + 1;
    }
    for (hostsim::Vehicle* car : cars) hostsim::clearCollision(car);
    hostsim::runFrames(2);
    for (hostsim::Vehicle* car : cars) hostsim::removeVehicle(car);
    Leaving leaving;
    const std::uint32_t before = hostsim::calls(hostsim::HostFunction::DestroyGeometry);
    for (int f = 0; f < kAfterFrames; ++f) {
        const std::uint32_t released = hostsim::calls(hostsim::HostFunction::DestroyGeometry);
        leaving.frames.push_back(frameWork());
        if (hostsim::calls(hostsim::HostFunction::DestroyGeometry) != released) leaving.releasing = f + 1;
    }
    leaving.releases = hostsim::calls(hostsim::HostFunction::DestroyGeometry) - before;
    return leaving;
}

void leavingRows(const std::string& module, const std::string& folder) {
    hostsim::HostOptions options;
    options.poolSlots = 128;
    if (!hostsim::startHost(options) || !installModule(module, folder)) return;
    hostsim::VehicleSpec playerCar;
    hostsim::setPlayerVehicle(hostsim::spawnVehicle(playerCar));
    if (!hostsim::loadModule(folder + "\\Kerbmark.asi")) return;
    hostsim::runFrames(2);

    std::vector<double> first, largest;
    std::vector<std::vector<double>> perFrame(kAfterFrames);
    Leaving leaving;
    for (int sample = 0; sample < 7; ++sample) {
        leaving = leavingFrames();
        first.push_back(leaving.frames.front());
        largest.push_back(*std::max_element(leaving.frames.begin(), leaving.frames.end()));
        for (int f = 0; f < kAfterFrames; ++f) perFrame[f].push_back(leaving.frames[f]);
    }
    std::string frames = "cars leaving (module's frame work, ms, medians)";
    for (const std::vector<double>& samples : perFrame) {
        char value[16];
        std::snprintf(value, sizeof value, " %.3f", bench::median(samples) * 1e3);
        frames += value;
    }
    bench::note("frames", frames.c_str());
    char text[160];
    std::snprintf(text, sizeof text,
                  "32 dented cars leave at once (%u references given back over %d frames): that frame",
                  static_cast<unsigned>(leaving.releases), leaving.releasing);
    bench::row("leave_first", bench::median(first) * 1e9, 0, "frame", text);
    bench::row("leave_max", bench::median(largest) * 1e9, 0, "frame", "  the largest of that frame and the next ones");
}

// A "Hit:" line as LogHits writes it.
std::string hitLine(int i) {
    char text[320];
    std::snprintf(text, sizeof text,
                  "Hit: actor=npc handle=%d model=401 episode=1 impact=0.3000 impulse=4500.0 mass=1500.0 "
                  "speedAfter=0.0000 healthLoss=0.0 depth=0.084 radius=0.620 piece=0 meshes=7",
                  1000 + i);
    return text;
}

void logRows(const std::string& folder) {
    CreateDirectoryA(folder.c_str(), nullptr);
    const std::string path = folder + "\\frame_lines.log";
    std::snprintf(kerbmark::logPath, sizeof kerbmark::logPath, "%s", path.c_str());
    std::vector<std::string> lines;
    for (int i = 0; i < kLines; ++i) lines.push_back(hitLine(i));
    const auto fresh = [&path](int) { DeleteFileA(path.c_str()); };
    const double lineByLine = bench::medianSeconds(31, fresh, [&](int) {
        for (const std::string& line : lines) kerbmark::logLine(line.c_str());
    });
    const double held = bench::medianSeconds(31, fresh, [&](int) {
        const kerbmark::FrameLogBatch frame;
        for (const std::string& line : lines) kerbmark::logLine(line.c_str());
    });
    bench::row("log_lines", lineByLine * 1e9, 0, "frame", "30 log lines written line by line (one open each)");
    bench::row("log_frame", held * 1e9, 0, "frame", "  the same 30 lines held for the frame's one write");
    DeleteFileA(path.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: leave_log_bench <Kerbmark.asi> [work folder]\n");
        return 1;
    }
    const std::string folder = argc > 2 ? argv[2] : "leave_log_bench";
    bench::note("clock", bench::clockName());
    logRows(folder);
    leavingRows(argv[1], folder);
    return 0;
}
