// The host's collision-model functions as doubles: shared models owned by the
// "host", data blocks that the host allocates, copies and frees the way its
// own functions do, and every misuse (a block freed twice, a block freed with
// a sphere array the host did not allocate, planes dropped on a foreign block)
// recorded as a fault. Also the host's own lookup of an entity's model.
#pragma once

#include "host/support/host_double.h"

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "collision/collision_state.h"
#include "host/bindings.h"

namespace testcollision {

struct Shape {
    float minY = -2.0f;
    float maxY = 2.0f;
    std::vector<dent::ColSphere> spheres;
    std::vector<collision::Box> boxes;
    std::vector<collision::Triangle> triangles;
    std::vector<collision::Vertex> vertices;
    std::uint8_t lines = 0;
};

// Four spheres along the length, one box, a quad of two triangles at the nose.
Shape carShape();

// How the host's assign behaves.
enum class AssignMode { Deep, SameBlock, SharedSpheres, NoBoxArray };

class CollisionHost : public testhost::HostDouble<CollisionHost> {
public:
    // Points collision::construct, destruct, allocate, assign,
    // removeCachedPlanes and original at this host. One at a time.
    CollisionHost();
    ~CollisionHost();  // where a block is complete

    // A shared model as the host keeps it; lives as long as this host.
    collision::Model* model(const Shape& shape);
    // What the host's own lookup gives for `entity` (null when none was set).
    void setModelOf(const void* entity, collision::Model* model);

    bool isLive(const collision::Data* data) const;
    // Blocks allocated and not yet freed, the shared models' included.
    std::size_t liveBlocks() const;

    AssignMode assignMode = AssignMode::Deep;
    bool allocateGivesData = true;

    unsigned constructs = 0, destructs = 0, allocates = 0, assigns = 0, lookups = 0;
    std::vector<const collision::Data*> planesRemoved;
    std::vector<std::string> faults;

    // The doubles' view.
    void destruct(collision::Model* model);
    void allocate(collision::Model* model);
    void assign(collision::Model* target, const collision::Model* source);
    void removePlanes(collision::Data* data);
    void* lookup(const void* entity);

private:
    struct Block;
    collision::Data* newBlock(const Shape& shape);
    Block* blockOf(const collision::Data* data) const;

    std::deque<std::unique_ptr<Block>> blocks_;
    std::deque<std::unique_ptr<collision::Model>> models_;
    std::map<const void*, collision::Model*> lookupAnswers_;
};

}  // namespace testcollision
