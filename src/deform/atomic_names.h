// Which atomics of a car may be dented, by their frames' names and their
// geometry's shape, and which of them are a bonnet or boot.
#pragma once

#include <cstdint>

#include "host/host_types.h"

namespace kerbmark {

struct VehicleRecord;

// Panel kinds by frame name; the nearest frame that names a panel decides.
enum PanelKind : int { kNoPanel = 0, kBonnet = 1, kBoot = 2 };

// The frame's whole record lies in readable memory, so that it may be handed
// to the host's frame functions (game::frameName, game::frameLTM).
bool frameRecordReadable(const void* frame);

// The frame or one of its ancestors (24 frames at most) is named after a part
// that is never deformed (wheels, exhaust, ...), in any letter case. Also true
// when the walk meets an unreadable frame: a name that cannot be read may be a
// wheel's.
bool excludedByName(void* frame);

// kBonnet or kBoot for the nearest of the frame and its ancestors whose name
// begins with a panel word, kNoPanel when none does. An unreadable frame ends
// the walk: the nearer frames named no panel, so none is assumed.
int panelKind(void* frame);

// The atomic is still one of the clump's (the host may have destroyed it
// since it was met): asks the host to enumerate the clump.
bool clumpHoldsAtomic(void* clump, const void* atomic);

// Bytes of `vertices` positions (or normals).
std::uint32_t positionBytes(std::int32_t vertices);

// One readable vertex block with readable positions for 1..30000 vertices,
// and no flag that forbids deforming.
bool deformableShape(const host::Geometry* geometry);

// The panel kind a copy of the atomic is made for (kNoPanel without PanelBending).
int panelKindOf(VehicleRecord& record, const host::Atomic& atomic);

enum class Names { Checked, Later };

// The atomic when it may be deformed at all: readable, with a frame and a
// geometry of a deformable shape, not excluded by name (unless the names are
// asked `Later`), not a faulted copy.
host::Atomic* deformableAtomic(void* atomicPointer, VehicleRecord& record, Names names = Names::Checked);

}  // namespace kerbmark
