#include "deform/work_queue.h"

#include <algorithm>
#include <deque>

namespace kerbmark {

namespace {

struct WorkQueue {
    std::deque<QueuedWork> items;
    std::size_t hits = 0;  // finish items held
};

// Never destroyed: nothing of the module is freed at process detach.
WorkQueue& queue() {
    static WorkQueue* const instance = new WorkQueue();
    return *instance;
}

void countOneHitLess(WorkQueue& q) {
    if (q.hits > 0) --q.hits;
}

template <typename Drop>
void dropWhere(Drop drop) {
    WorkQueue& q = queue();
    // Counted as they are dropped: remove_if leaves unspecified items past its end.
    const auto counted = [&q, &drop](const QueuedWork& item) {
        if (!drop(item)) return false;
        if (item.finish) countOneHitLess(q);
        return true;
    };
    q.items.erase(std::remove_if(q.items.begin(), q.items.end(), counted), q.items.end());
}

}  // namespace

// A hit is counted once its item is held, so that a push that throws counts nothing.
void queueWork(QueuedWork item) {
    WorkQueue& q = queue();
    const bool finish = item.finish;
    q.items.push_back(std::move(item));
    if (finish) ++q.hits;
}

void queueWorkAhead(QueuedWork item) {
    WorkQueue& q = queue();
    const VehicleRecord* record = item.record;
    const auto behindRecords = std::find_if_not(q.items.begin(), q.items.end(),
                                                [record](const QueuedWork& held) { return held.record == record; });
    const bool finish = item.finish;
    q.items.insert(behindRecords, std::move(item));
    if (finish) ++q.hits;
}

bool workQueueFull() { return queue().hits >= kMaxQueuedHits; }

bool takeOldestWork(QueuedWork& item) {
    WorkQueue& q = queue();
    if (q.items.empty()) return false;
    item = std::move(q.items.front());
    q.items.pop_front();
    if (item.finish) countOneHitLess(q);
    return true;
}

void putBackOldestWork(QueuedWork item) {
    WorkQueue& q = queue();
    const bool finish = item.finish;
    q.items.push_front(std::move(item));
    if (finish) ++q.hits;
}

bool bringWorkForward(const VehicleRecord& record) {
    std::deque<QueuedWork>& items = queue().items;
    const auto isRecords = [&record](const QueuedWork& item) { return item.record == &record; };
    // Asked every frame for the player's car: the items move only when one of
    // the record's waits behind another record's.
    const auto others = std::find_if_not(items.begin(), items.end(), isRecords);
    if (std::find_if(others, items.end(), isRecords) != items.end()) std::stable_partition(others, items.end(), isRecords);
    return items.empty() ? false : isRecords(items.front());
}

bool oldestWorkCopiesFor(const VehicleRecord& record) {
    const std::deque<QueuedWork>& items = queue().items;
    return !items.empty() && items.front().record == &record && items.front().makesCopies;
}

void countMeshes(std::uint32_t hit, std::uint32_t meshes) {
    for (QueuedWork& item : queue().items) {
        if (item.finish && item.hit == hit) {
            item.meshes += meshes;
            return;
        }
    }
}

void dropQueuedWork(const VehicleRecord& record) {
    dropWhere([&record](const QueuedWork& item) { return item.record == &record; });
}

void dropAllQueuedWork() {
    WorkQueue& q = queue();
    q.items.clear();
    q.hits = 0;
}

std::size_t queuedItems() { return queue().items.size(); }

}  // namespace kerbmark
