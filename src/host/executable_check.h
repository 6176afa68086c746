// The checks that make the fixed host addresses safe to use.
#pragma once

namespace kerbmark {

// Base 0x400000, then the identity word. On failure writes its one log line.
bool validateExecutable();

// The three call sites still hold near calls (0xE8). On failure writes its one log line.
bool hookSitesIntact();

}  // namespace kerbmark
