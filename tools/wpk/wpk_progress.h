// The progress line of long work: on a terminal (standard error a TTY, and
// not -q), one line that updates in place with the bytes done of the total,
// the percentage, the rate and the member at hand. Never in pipes or logs.
// Worker processes add to the same count (it lies in memory shared across
// fork) and may draw the line too.
#pragma once

#include <cstdint>
#include <string>

// Starts counting towards `total` bytes ("packed", "tested", ...: `doing`).
void progress_start(const char* doing, uint64_t total);
// The member now at hand.
void progress_member(const std::string& name);
// `bytes` more are done; the line is drawn again at most five times a second.
void progress_add(uint64_t bytes);
// Clears the line, before other output and at the end.
void progress_end();
// Whether the line is being shown (a terminal, not -q, counting started).
bool progress_shown();
