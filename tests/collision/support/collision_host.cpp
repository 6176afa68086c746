#include "collision/support/collision_host.h"

#include <algorithm>
#include <cstring>
#include <sstream>

namespace testcollision {

namespace {

struct Line {
    float values[8];
};

std::string pointerText(const char* what, const void* pointer) {
    std::ostringstream text;
    text << what << " " << pointer;
    return text.str();
}

KERBMARK_THISCALL void constructDouble(void* model) {
    ++CollisionHost::current->constructs;
    std::memset(model, 0, sizeof(collision::Model));
}
KERBMARK_THISCALL void destructDouble(void* model) {
    CollisionHost::current->destruct(static_cast<collision::Model*>(model));
}
KERBMARK_THISCALL void allocateDouble(void* model) {
    CollisionHost::current->allocate(static_cast<collision::Model*>(model));
}
KERBMARK_THISCALL void assignDouble(void* target, const void* source) {
    CollisionHost::current->assign(static_cast<collision::Model*>(target),
                                   static_cast<const collision::Model*>(source));
}
void removePlanesDouble(void* data) { CollisionHost::current->removePlanes(static_cast<collision::Data*>(data)); }
KERBMARK_THISCALL void* lookupDouble(void* entity) { return CollisionHost::current->lookup(entity); }

dent::ColSphere sphere(float y, float radius) {
    dent::ColSphere s{};
    s.center = {0.0f, y, 0.0f};
    s.radius = radius;
    return s;
}

}  // namespace

Shape carShape() {
    Shape shape;
    for (float y : {-1.5f, -0.5f, 0.5f, 1.5f}) shape.spheres.push_back(sphere(y, 0.6f));
    shape.boxes.push_back(collision::Box{{-0.9f, -1.9f, -0.5f}, {0.9f, 1.9f, 0.7f}, {0, 0, 0, 0}});
    // A quad at the nose and one at the tail, in 1/128 metre.
    shape.vertices = {{-100, 250, 0}, {100, 250, 0}, {100, 250, 64}, {-100, 250, 64},
                      {-100, -250, 0}, {100, -250, 0}, {0, 0, 64}};
    shape.triangles = {{{0, 1, 2}, {0, 0}}, {{0, 2, 3}, {0, 0}}, {{4, 5, 6}, {0, 0}}};
    return shape;
}

struct CollisionHost::Block {
    collision::Data data{};
    std::vector<dent::ColSphere> spheres;
    std::vector<collision::Box> boxes;
    std::vector<Line> lines;
    std::vector<collision::Vertex> vertices;
    std::vector<collision::Triangle> triangles;
    bool freed = false;
};

CollisionHost::CollisionHost() {
    bindings_.set(collision::construct, constructDouble);
    bindings_.set(collision::destruct, destructDouble);
    bindings_.set(collision::allocate, allocateDouble);
    bindings_.set(collision::assign, assignDouble);
    bindings_.set(collision::removeCachedPlanes, removePlanesDouble);
    bindings_.set(collision::original, lookupDouble);
}

CollisionHost::~CollisionHost() = default;

collision::Data* CollisionHost::newBlock(const Shape& shape) {
    blocks_.push_back(std::make_unique<Block>());
    Block& block = *blocks_.back();
    block.spheres = shape.spheres;
    block.boxes = shape.boxes;
    block.lines.resize(shape.lines);
    block.vertices = shape.vertices;
    block.triangles = shape.triangles;
    block.data.sphereCount = static_cast<std::uint16_t>(block.spheres.size());
    block.data.boxCount = static_cast<std::uint16_t>(block.boxes.size());
    block.data.triangleCount = static_cast<std::uint16_t>(block.triangles.size());
    block.data.lineCount = shape.lines;
    block.data.spheres = testhost::arrayOrNull(block.spheres);
    block.data.boxes = testhost::arrayOrNull(block.boxes);
    block.data.lines = testhost::arrayOrNull(block.lines);
    block.data.vertices = testhost::arrayOrNull(block.vertices);
    block.data.triangles = testhost::arrayOrNull(block.triangles);
    return &block.data;
}

CollisionHost::Block* CollisionHost::blockOf(const collision::Data* data) const {
    for (const auto& block : blocks_)
        if (&block->data == data) return block.get();
    return nullptr;
}

collision::Model* CollisionHost::model(const Shape& shape) {
    models_.push_back(std::make_unique<collision::Model>());
    collision::Model* model = models_.back().get();
    std::memset(model, 0, sizeof *model);
    model->boxMin = {-1.0f, shape.minY, -0.6f};
    model->boxMax = {1.0f, shape.maxY, 1.0f};
    model->data = newBlock(shape);
    return model;
}

void CollisionHost::setModelOf(const void* entity, collision::Model* model) { lookupAnswers_[entity] = model; }

bool CollisionHost::isLive(const collision::Data* data) const {
    const Block* block = blockOf(data);
    return block && !block->freed;
}

std::size_t CollisionHost::liveBlocks() const {
    return static_cast<std::size_t>(
        std::count_if(blocks_.begin(), blocks_.end(), [](const auto& block) { return !block->freed; }));
}

void CollisionHost::destruct(collision::Model* model) {
    ++destructs;
    collision::Data* data = model->data;
    model->data = nullptr;
    if (!data) return;
    Block* block = blockOf(data);
    if (!block) {
        faults.push_back(pointerText("destruct: foreign collision data", data));
        return;
    }
    if (block->freed) {
        faults.push_back(pointerText("destruct: collision data freed twice", data));
        return;
    }
    if (data->spheres && data->spheres != block->spheres.data())
        faults.push_back(pointerText("destruct: sphere array the host did not allocate", data->spheres));
    block->freed = true;
}

void CollisionHost::allocate(collision::Model* model) {
    ++allocates;
    if (!allocateGivesData) return;
    if (model->data) destruct(model);
    model->data = newBlock(Shape{});
}

void CollisionHost::assign(collision::Model* target, const collision::Model* source) {
    ++assigns;
    std::memcpy(target, source, offsetof(collision::Model, data));
    const collision::Data* from = source->data;
    if (assignMode == AssignMode::SameBlock) {
        if (target->data && target->data != from) destruct(target);
        target->data = source->data;
        return;
    }
    if (target->data) destruct(target);
    Shape shape;
    shape.spheres.assign(from->spheres, from->spheres + from->sphereCount);
    if (from->boxes) shape.boxes.assign(from->boxes, from->boxes + from->boxCount);
    shape.triangles.assign(from->triangles, from->triangles + from->triangleCount);
    std::size_t vertexCount = 0;
    for (const collision::Triangle& t : shape.triangles)
        for (std::uint16_t index : t.vertex) vertexCount = std::max<std::size_t>(vertexCount, index + 1u);
    if (from->vertices) shape.vertices.assign(from->vertices, from->vertices + vertexCount);
    shape.lines = from->lineCount;
    collision::Data* copy = newBlock(shape);
    if (assignMode == AssignMode::SharedSpheres) copy->spheres = from->spheres;
    if (assignMode == AssignMode::NoBoxArray) copy->boxes = nullptr;
    target->data = copy;
}

void CollisionHost::removePlanes(collision::Data* data) {
    if (!isLive(data)) faults.push_back(pointerText("removeCachedPlanes: not a live block", data));
    planesRemoved.push_back(data);
}

void* CollisionHost::lookup(const void* entity) {
    ++lookups;
    const auto found = lookupAnswers_.find(entity);
    return found == lookupAnswers_.end() ? nullptr : found->second;
}

}  // namespace testcollision
