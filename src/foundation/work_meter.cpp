#include "foundation/work_meter.h"

#if defined(KERBMARK_WORK_METER)

#include "foundation/thread_clock.h"

namespace kerbmark {
namespace meter {

namespace {

Total totals[KindCount] = {};

void add(Total& total, std::uint64_t units, std::uint64_t nanoseconds) {
    total.steps += 1;
    total.nanoseconds += nanoseconds;
    total.units += units;
    total.unitsSquared += static_cast<double>(units) * static_cast<double>(units);
    total.unitsTimesNanoseconds += static_cast<double>(units) * static_cast<double>(nanoseconds);
}

}  // namespace

Scope::Scope(Kind kind, const std::uint64_t* left)
    : kind_(kind), left_(left), leftBefore_(left ? *left : 0), start_(threadClockNs()) {}

Scope::~Scope() {
    const auto nanoseconds = static_cast<std::uint64_t>(threadClockNs() - start_);
    const std::uint64_t units = left_ && *left_ <= leftBefore_ ? leftBefore_ - *left_ : 0;
    add(totals[kind_], units, nanoseconds);
}

Laps::Laps(Kind kind, const std::uint64_t* charged)
    : kind_(kind), charged_(charged), chargedBefore_(charged ? *charged : 0), start_(threadClockNs()) {}

Laps::~Laps() { next(kind_); }

void Laps::next(Kind kind) {
    const std::int64_t now = threadClockNs();
    const std::uint64_t charged = charged_ ? *charged_ : 0;
    if (kind_ != KindCount) add(totals[kind_], charged - chargedBefore_, static_cast<std::uint64_t>(now - start_));
    kind_ = kind;
    chargedBefore_ = charged;
    start_ = now;
}

}  // namespace meter
}  // namespace kerbmark

// The totals by kind, `count` of them; the benchmark may clear them.
extern "C" __declspec(dllexport) kerbmark::meter::Total* kerbmarkWorkMeter(int* count) {
    *count = kerbmark::meter::KindCount;
    return kerbmark::meter::totals;
}

#endif
