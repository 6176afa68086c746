// Where a mesh's copy comes from and whether it may be kept: the vehicle's
// own limits, the all-vehicles budget, a copy prepared ahead for the player's
// vehicle or a clone made now, and the copy recorded and attached.
#pragma once

#include <cstdint>

#include "foundation/vec.h"
#include "host/host_types.h"

namespace kerbmark {

struct DentRequest;
struct MeshEntry;
struct PanelState;
struct VehicleRecord;

// The record's entry whose copy `geometry` is, or null.
MeshEntry* entryOfCopy(VehicleRecord& record, const void* geometry);

// Who a copy is for: a traffic hit; a hit on the player's vehicle, for which
// other vehicles' records make room; the player's vehicle ahead of its first
// hit, whose copies take room from no one and give way to every hit's.
enum class CopyFor { Traffic, Player, Preparation };

CopyFor copyFor(const DentRequest& request);

// The vehicle's own limits leave room for one more copy of `originalVertices`.
bool vehicleLimitsAllowCopy(const VehicleRecord& record, std::uint64_t originalVertices);

// Where the first half of an entry comes from: nowhere (a limit refuses), a
// copy prepared ahead for the player's vehicle, or a clone to make now.
enum class CopySource { Refused, Prepared, Clone };

// Whether copySource would refuse a copy of `original` now, as it would:
// the vehicle's limits or the all-vehicles budget. Changes nothing.
bool copyRefused(const VehicleRecord& record, const host::Geometry& original, CopyFor who);

// The checks before a copy of the atomic's geometry is made. A copy prepared
// ahead for the player's vehicle is taken as it is (`prepared`): it is what
// the clone would give, rebuilt along its crease for a panel. `kind`: the
// atomic's panelKindOf.
CopySource copySource(host::Atomic& atomic, VehicleRecord& record, host::Geometry* original, CopyFor who, int kind,
                      PanelState& panel, void*& prepared);

void logCloneFailed();

// The readable normals of a copy that passed deformableShape, or null.
const dent::Vec* copyNormals(const host::Geometry* copy);

// The second half: records the copy with its panel lists (made here unless
// they were made in steps already) and attaches it to the atomic. Null when a
// limit or the bookkeeping refuses; the copy is released then.
MeshEntry* attachCopy(host::Atomic& atomic, VehicleRecord& record, host::Geometry* original, CopyFor who,
                      void* copy, PanelState& panel);

// Copies the atomic's geometry, records it and attaches the copy to the
// atomic. Null when a limit, the clone or the bookkeeping refuses; nothing of
// the copy is kept then.
MeshEntry* makeEntry(host::Atomic& atomic, VehicleRecord& record, host::Geometry* original, CopyFor who);

}  // namespace kerbmark
