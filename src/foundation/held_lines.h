// Log lines held in a fixed buffer until they are written in one go.
//
// One thread (the game thread) holds lines and starts the buffer over; any
// thread may take what is held, so that a crash report on another thread
// writes the lines before its own. Lock-free and allocation-free: a line is
// copied first and published with one store, so a fault while it is copied
// leaves every earlier line whole and this one out; each published byte is
// taken by exactly one taker.
#pragma once

#include <cstddef>

namespace kerbmark {
namespace held {

// Bytes the buffer holds; a line that does not fit is not held.
constexpr std::size_t kCapacity = 32768;

// Holds `text` as the C runtime's text mode writes "%s\n": every line feed
// becomes CR LF, and CR LF ends the line. False (nothing held) when the bytes
// do not fit behind what is held. Holding thread only.
bool hold(const char* text);

// Published bytes nobody has taken yet.
struct Taken {
    const char* bytes;
    std::size_t size;
};

// Takes every published byte not taken yet; any thread. The bytes stay valid
// until release(): the buffer does not start over while anything is taken.
Taken take();
void release();

// Starts the buffer over when every held byte has been taken and released.
// Holding thread only.
void rewind();

// Published bytes nobody has taken yet, as a count (0: nothing to write).
std::size_t waiting();

}  // namespace held
}  // namespace kerbmark
