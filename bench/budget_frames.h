// Whole frames at the host's frame site as the frame-budget benchmark times
// them: the module's work in the thread's CPU time with its log writes, the
// largest and median of a set, and the ROW lines beside their targets.
#pragma once

#include <string>
#include <vector>

#include "log_writes.h"

namespace bench {

// The log writes of any one frame, however many lines.
constexpr double kLogTargetMs = 0.25;

// One frame at the host's frame site: the module's time and its log writes.
struct FrameCost {
    double seconds = 0.0;
    LogWrites log;
};

FrameCost moduleFrame();
void quietFrames(int count);
// Frames on foot until the module has given back what the cars gone held:
// ten frames in a row in which it destroys no geometry and no collision
// model (at most 600).
void settleOnFoot();

FrameCost largest(const std::vector<FrameCost>& frames);
// Median of `samples` by frame time, with that sample's log writes.
FrameCost medianCost(std::vector<FrameCost> samples);
double medianSeconds(const std::vector<FrameCost>& samples);

// A frame's row, its target in milliseconds (0: none).
void frameRow(const std::string& key, double seconds, double targetMs, const std::string& label);
// The frame's row and, below it, its log writes.
void frameRows(const std::string& key, const FrameCost& cost, double targetMs, const std::string& label);
// A row that counts (unit "frames" or "vertices"), with its most (0: none).
void countRow(const std::string& key, double count, const char* unit, double most, const std::string& label);

}  // namespace bench
