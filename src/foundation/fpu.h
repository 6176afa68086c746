// What the module asks of the two floating-point units.
//
// The module's own arithmetic is SSE2 and assumes the host's MXCSR as the game
// leaves it (round to nearest, no flush to zero, no denormals as zero); nothing
// here changes MXCSR. The 32-bit C runtime still computes some functions on the
// x87 (pow, llround, float parsing and printing), and the host's renderer leaves
// the x87 of the game thread at 24-bit precision. Such calls are made inside an
// X87ExtendedPrecision scope, or replaced by SSE2 code, so no result depends on
// what the host left in the x87 control word.
#pragma once

#include <cstdint>

namespace dent {

#if defined(__i386__) || defined(__x86_64__)
inline std::uint16_t x87ControlWord() {
    std::uint16_t word;
    __asm__ __volatile__("fnstcw %0" : "=m"(word) : : "memory");
    return word;
}
inline void setX87ControlWord(std::uint16_t word) { __asm__ __volatile__("fldcw %0" : : "m"(word) : "memory"); }
#else
inline std::uint16_t x87ControlWord() { return 0; }
inline void setX87ControlWord(std::uint16_t) {}
#endif

// Precision control (bits 8-9) and rounding control (bits 10-11) of the control word.
constexpr std::uint16_t kX87PrecisionAndRounding = 0x0f00;
constexpr std::uint16_t kX87Precision24 = 0x0000;
constexpr std::uint16_t kX87Precision64 = 0x0300;

// `word` with the given precision and round-to-nearest; exception masks kept.
inline std::uint16_t x87WithPrecision(std::uint16_t word, std::uint16_t precision) {
    return static_cast<std::uint16_t>((word & ~kX87PrecisionAndRounding) | precision);
}

// The x87 at 64-bit precision and round-to-nearest for the scope; the caller's
// control word (exception masks included) comes back when the scope ends.
class X87ExtendedPrecision {
public:
    X87ExtendedPrecision() : saved_(x87ControlWord()) {
        setX87ControlWord(x87WithPrecision(saved_, kX87Precision64));
    }
    ~X87ExtendedPrecision() { setX87ControlWord(saved_); }
    X87ExtendedPrecision(const X87ExtendedPrecision&) = delete;
    X87ExtendedPrecision& operator=(const X87ExtendedPrecision&) = delete;

private:
    std::uint16_t saved_;
};

// Keeps a value's computation on its side of a control-word change: the
// compiler may not move the work that produces or consumes it across.
template <typename T>
inline void fpuOrderPoint(T& value) {
    __asm__ __volatile__("" : "+m"(value) : : "memory");
}

// llround without the x87: nearest integer, halves away from zero. NaN and
// values beyond the 32-bit range take the C runtime's llround at 64-bit precision.
std::int64_t roundHalfAway(double value);

}  // namespace dent
