// The wpk tool: packs, lists, tests and extracts setup archives.
#pragma once

#include <string>
#include <vector>

constexpr int EXIT_OK = 0;
constexpr int EXIT_DAMAGED = 1; // damaged archive, or a member that failed
constexpr int EXIT_USAGE = 2;

int command_pack(const std::vector<std::string>& args);
int command_list(const std::vector<std::string>& args);
int command_test(const std::vector<std::string>& args);
int command_extract(const std::vector<std::string>& args);

// Progress on stderr, only when stderr is a terminal: "\r[3/120] NAME".
void show_progress(size_t done, size_t total, const std::string& what);
void end_progress();

// "wpk: " followed by the message, on stderr.
void complain(const std::string& message);
