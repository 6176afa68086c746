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

template <typename Drop>
void dropWhere(Drop drop) {
    WorkQueue& q = queue();
    // Counted before removing: remove_if leaves unspecified items past its end.
    for (const QueuedWork& item : q.items) {
        if (item.finish && drop(item)) --q.hits;
    }
    q.items.erase(std::remove_if(q.items.begin(), q.items.end(), drop), q.items.end());
}

}  // namespace

void queueWork(const QueuedWork& item) {
    WorkQueue& q = queue();
    q.items.push_back(item);
    if (item.finish) ++q.hits;
}

bool workQueueFull() { return queue().hits >= kMaxQueuedHits; }

bool hasQueuedWork() { return !queue().items.empty(); }

bool takeOldestWork(QueuedWork& item) {
    WorkQueue& q = queue();
    if (q.items.empty()) return false;
    item = q.items.front();
    q.items.pop_front();
    if (item.finish) --q.hits;
    return true;
}

std::vector<QueuedWork> takeWorkOf(const VehicleRecord& record) {
    std::vector<QueuedWork> taken;
    for (const QueuedWork& item : queue().items) {
        if (item.record == &record) taken.push_back(item);
    }
    if (!taken.empty()) dropQueuedWork(record);
    return taken;
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
