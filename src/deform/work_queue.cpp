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

void queueWork(QueuedWork item) {
    WorkQueue& q = queue();
    if (item.finish) ++q.hits;
    q.items.push_back(std::move(item));
}

bool workQueueFull() { return queue().hits >= kMaxQueuedHits; }

bool hasQueuedWork() { return !queue().items.empty(); }

bool takeOldestWork(QueuedWork& item) {
    WorkQueue& q = queue();
    if (q.items.empty()) return false;
    item = std::move(q.items.front());
    q.items.pop_front();
    if (item.finish) --q.hits;
    return true;
}

void putBackOldestWork(QueuedWork item) {
    WorkQueue& q = queue();
    if (item.finish) ++q.hits;
    q.items.push_front(std::move(item));
}

std::vector<QueuedWork> takeWorkOf(const VehicleRecord& record) {
    std::vector<QueuedWork> taken;
    for (QueuedWork& item : queue().items) {
        if (item.record == &record) taken.push_back(std::move(item));
    }
    // The moved-from items still name the record, so they go with the rest.
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
