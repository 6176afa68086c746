// Whether host memory may be read, and whether a geometry's material table can be trusted.
#pragma once

#include <cstdint>

namespace kerbmark {

// Every byte of [start, start + length) lies in committed, readable memory.
bool readableRange(std::uintptr_t start, std::uint32_t length);
inline bool readableRange(const void* start, std::uint32_t length) {
    return readableRange(reinterpret_cast<std::uintptr_t>(start), length);
}

// The geometry's material table (count 1..128, capacity <= 4096, readable,
// aligned material pointers above 64 KiB) can be handed to the renderer.
bool materialTableValid(const void* geometry);

}  // namespace kerbmark
