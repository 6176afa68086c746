// hostsim_drive: the real module in a seeded, reproducible random drive of the
// simulated host, every frame checked (drive_checks.h).
//
//   hostsim_drive <module> <work folder> <Kerbmark.ini> --seed N [--frames N] [--trace-from F]
//       settings drawn from the seed into the INI beside the module's copy in
//       the work folder, then N frames (default 10000) of random drive; with
//       --trace-from, the drive's events from frame F on, one line each
//   hostsim_drive <module> <work folder> <Kerbmark.ini> --refuse-each [--seed N] [--frames N]
//       every allocating host call refused in turn (refusal_sweep.h) in a
//       short drive of N frames (default 120), with the INI as given
//
// Prints the drawn settings first and a summary at the end. On a failure:
// one line with the seed, the frame and what failed, and the command that
// replays it. Exit codes: 0 every check held, 1 bad arguments, 2 host or
// module could not be set up, 3 unhandled fault (the seed and frame follow
// the fault's line), 5 a check failed.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "crash_exit.h"
#include "drive_checks.h"
#include "drive_frames.h"
#include "drive_settings.h"
#include "host_functions.h"
#include "host_geometry.h"
#include "host_image.h"
#include "module_folder.h"
#include "module_heap.h"
#include "module_loader.h"
#include "random_drive.h"
#include "refusal_sweep.h"
#include "thread_clock.h"

namespace {

using namespace hostsim;

constexpr int kCheckFailedExit = 5;
// The game's vehicle pool.
constexpr int kPoolSlots = 110;
// Destroyed copies kept readable for stale pointers (about 100 bytes a vertex
// in the host, twice this while they wait to be freed); older ones are freed.
constexpr std::size_t kKeptDestroyedVertices = 1000000;
// Frames the module makes no geometry call, the player on foot and no
// contact, before a geometry it holds undrawn is a leak: one piece of work
// takes at most a few hundred frames of one step each (WorkPerFrame=1).
constexpr int kDriveIdleFrames = 300;
constexpr std::uint64_t kRefusalStream = 0x4EF05A15ull;

struct Arguments {
    std::string module, folder, ini;
    std::uint64_t seed = 1;
    bool seedGiven = false;
    int frames = 0;
    std::uint32_t traceFrom = 0;  // 0: no trace
    bool refuseEach = false;
    std::vector<std::string> words;  // as given, for the replay command
};

// What the unhandled-fault exit and a failure print.
struct Run {
    const Arguments* arguments = nullptr;
    const DriveFrames* frames = nullptr;
    const SweepReport* sweep = nullptr;
};
Run g_run;

int usage() {
    std::fprintf(stderr,
                 "usage: hostsim_drive <module> <work folder> <Kerbmark.ini> --seed N [--frames N] [--trace-from F]\n"
                 "       hostsim_drive <module> <work folder> <Kerbmark.ini> --refuse-each [--seed N] [--frames N]\n");
    return 1;
}

bool parse(int argc, char** argv, Arguments& arguments) {
    if (argc < 4) return false;
    arguments.words.assign(argv, argv + argc);
    arguments.module = argv[1];
    arguments.folder = argv[2];
    arguments.ini = argv[3];
    for (int i = 4; i < argc; ++i) {
        if (std::strcmp(argv[i], "--refuse-each") == 0) {
            arguments.refuseEach = true;
        } else if (std::strcmp(argv[i], "--seed") == 0 && i + 1 < argc) {
            arguments.seed = std::strtoull(argv[++i], nullptr, 10);
            arguments.seedGiven = true;
        } else if (std::strcmp(argv[i], "--frames") == 0 && i + 1 < argc) {
            arguments.frames = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--trace-from") == 0 && i + 1 < argc) {
            arguments.traceFrom = static_cast<std::uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        } else {
            return false;
        }
    }
    if (arguments.frames <= 0) arguments.frames = arguments.refuseEach ? 120 : 10000;
    return arguments.refuseEach || arguments.seedGiven;
}

// The command line again, the frame count set to `frames` when the drive can stop there.
std::string replayCommand(const Arguments& arguments, std::uint32_t frames) {
    std::string command = "scripts/wine-run";
    for (std::size_t i = 0; i < arguments.words.size(); ++i) {
        const std::string& word = arguments.words[i];
        if (word == "--frames") {
            ++i;
            continue;
        }
        command += " " + word;
    }
    if (!arguments.refuseEach && frames > 0) command += " --frames " + std::to_string(frames);
    if (arguments.refuseEach) command += " --frames " + std::to_string(arguments.frames);
    return command;
}

// In a sweep: which drive.
std::string sweepDrive() {
    if (!g_run.sweep) return "";
    return " (drive refusing allocating call " + std::to_string(g_run.sweep->refusing) + ")";
}

void printWhere(std::FILE* out) {
    if (!g_run.arguments) return;
    const std::uint32_t frame = g_run.frames ? g_run.frames->framesRun() : 0;
    std::fprintf(out, "hostsim_drive: seed %" PRIu64 " frame %u%s\n", g_run.arguments->seed,
                 static_cast<unsigned>(frame), sweepDrive().c_str());
    std::fprintf(out, "hostsim_drive: replay: %s\n", replayCommand(*g_run.arguments, frame).c_str());
}

int reportFailure(const Arguments& arguments, const DriveChecks& checks) {
    std::printf("hostsim_drive: FAILED seed %" PRIu64 " frame %u%s: %s\n", arguments.seed,
                static_cast<unsigned>(checks.failureFrame()), sweepDrive().c_str(), checks.failure().c_str());
    std::printf("hostsim_drive: replay: %s\n", replayCommand(arguments, checks.failureFrame()).c_str());
    std::fflush(stdout);
    return kCheckFailedExit;
}

// The host laid out, the module installed with `ini` in the work folder and loaded, its heap counted.
bool startModule(const Arguments& arguments, const std::string& ini) {
    HostOptions options;
    options.poolSlots = kPoolSlots;
    if (!startHost(options)) return false;
    if (!installModule(arguments.module, arguments.folder, ini)) {
        std::fprintf(stderr, "hostsim_drive: cannot install %s in %s\n", arguments.module.c_str(),
                     arguments.folder.c_str());
        return false;
    }
    HMODULE module = loadModule(arguments.folder + "\\Kerbmark.asi");
    if (!module) return false;
    if (!countModuleHeap(module)) {
        std::fprintf(stderr, "hostsim_drive: the module imports none of malloc, calloc, realloc, free\n");
        return false;
    }
    keepDestroyedModuleGeometries(kKeptDestroyedVertices);
    return true;
}

double percentile(std::vector<float> values, double share) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const std::size_t rank = static_cast<std::size_t>(share * static_cast<double>(values.size() - 1));
    return values[rank];
}

void printRefusals() {
    const HostFunction allocating[] = {HostFunction::CreateGeometry, HostFunction::CopyExtensions,
                                       HostFunction::TriangleVertices, HostFunction::TriangleMaterial};
    unsigned total = 0;
    std::string each;
    for (HostFunction function : allocating) {
        total += refusals(function);
        each += std::string(each.empty() ? "" : ", ") + hostFunctionName(function) + " " +
                std::to_string(refusals(function));
    }
    std::printf("  refusals %u (%s)\n", total, each.c_str());
}

void printSummary(const DriveFrames& frames, const DriveChecks& checks, const DriveCounts* counts) {
    std::printf("hostsim_drive: seed %" PRIu64 ": %u frames\n", g_run.arguments->seed,
                static_cast<unsigned>(frames.framesRun()));
    if (counts)
        std::printf("  hits %d player, %d traffic; F7 %d, repairs %d, reset events %d, reloads %d, car changes %d, "
                    "cars gone %d, quiet stretches %d\n",
                    counts->playerHits, counts->trafficHits, counts->f7, counts->repairs, counts->resets,
                    counts->reloads, counts->carChanges, counts->carsGone, counts->quietStretches);
    printRefusals();
    const std::vector<float>& seconds = frames.moduleSeconds();
    const auto largest = std::max_element(seconds.begin(), seconds.end());
    std::printf("  module frame CPU time (%s): median %.3f ms, p99 %.3f ms, max %.3f ms (frame %u)\n", clockName(),
                1e3 * percentile(seconds, 0.5), 1e3 * percentile(seconds, 0.99), 1e3 * percentile(seconds, 1.0),
                largest == seconds.end() ? 0u : static_cast<unsigned>(largest - seconds.begin()) + 1u);
    std::printf("  checked: %llu changed meshes, %d idle stretches, %u reset events; most module geometries alive at "
                "once %u\n",
                static_cast<unsigned long long>(checks.changedMeshesSeen()), checks.idleChecks(),
                static_cast<unsigned>(checks.heapSamples()), static_cast<unsigned>(checks.mostLiveGeometries()));
    std::printf("  module heap right after the first and the last reset event: %lld and %lld bytes, %lld and %lld "
                "blocks\n",
                static_cast<long long>(checks.firstHeapAfterReset().bytes),
                static_cast<long long>(checks.lastHeapAfterReset().bytes),
                static_cast<long long>(checks.firstHeapAfterReset().blocks),
                static_cast<long long>(checks.lastHeapAfterReset().blocks));
    std::fflush(stdout);
}

int randomDrive(const Arguments& arguments, const std::string& baseIni) {
    const DriveSettings settings = drawSettings(arguments.seed);
    std::printf("hostsim_drive: %s\n", describeSettings(settings).c_str());
    std::fflush(stdout);
    if (!startModule(arguments, settingsIni(baseIni, settings))) return 2;
    // Refusals draw from their own stream: the drive's events stay the same whatever the module calls.
    SeededRandom refusalDraws(arguments.seed ^ kRefusalStream);
    if (settings.refusalRate > 0.0f)
        refuseAllocatingCalls([&refusalDraws, &settings](HostFunction function) {
            return refusalDraws.unit() < refusalRateOf(settings, function);
        });

    DriveChecks checks(kDriveIdleFrames);
    DriveFrames frames(checks);
    g_run.frames = &frames;
    DriveShape shape;
    shape.trafficCars = settings.trafficCars;
    shape.settingsFile = arguments.folder + "\\Kerbmark.ini";
    shape.baseIni = baseIni;
    RandomDrive drive(arguments.seed, shape, checks);
    if (arguments.traceFrom > 0) drive.traceFrom(arguments.traceFrom, stdout);
    for (int f = 0; f < arguments.frames; ++f)
        if (!frames.frame(&drive)) break;
    if (!checks.failed()) checks.afterDrive();
    printSummary(frames, checks, &drive.counts());
    return checks.failed() ? reportFailure(arguments, checks) : 0;
}

int refusalSweep(const Arguments& arguments, const std::string& ini) {
    std::printf("hostsim_drive: every allocating call refused in turn, seed %" PRIu64 ", %d frames a drive\n",
                arguments.seed, arguments.frames);
    std::fflush(stdout);
    if (!startModule(arguments, ini)) return 2;
    DriveChecks checks(kSweepIdleFrames);
    DriveFrames frames(checks);
    g_run.frames = &frames;
    SweepReport report;
    g_run.sweep = &report;
    const double start = threadSeconds();
    const bool held = refuseEachAllocationInTurn(arguments.seed, arguments.frames, frames, checks, report);
    if (held) checks.afterDrive();
    printSummary(frames, checks, nullptr);
    std::printf("  %d drives; allocating calls of the unrefused drive %u, most of any %u; %.1f s of CPU\n",
                report.repetitions, static_cast<unsigned>(report.unrefusedCalls),
                static_cast<unsigned>(report.mostCalls), threadSeconds() - start);
    std::fflush(stdout);
    return checks.failed() ? reportFailure(arguments, checks) : 0;
}

}  // namespace

int main(int argc, char** argv) {
    exitOnUnhandledFault();
    Arguments arguments;
    if (!parse(argc, argv, arguments)) return usage();
    g_run.arguments = &arguments;
    describeFaultsWith(&printWhere);
    const std::string ini = readText(arguments.ini);
    if (ini.empty()) {
        std::fprintf(stderr, "hostsim_drive: cannot read %s\n", arguments.ini.c_str());
        return 1;
    }
    return arguments.refuseEach ? refusalSweep(arguments, ini) : randomDrive(arguments, ini);
}
