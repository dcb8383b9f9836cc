// Starting a program without a shell, in a folder of the caller's choosing,
// and reading what it writes: the one way the front ends and the tests run
// another program. A deadline and a cap on its output keep a hung or a
// chattering program from holding its caller.
#ifndef MEMORIA_JUDGE_CLIENT_SUBPROCESS_H
#define MEMORIA_JUDGE_CLIENT_SUBPROCESS_H

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "failure.h"

struct process_plan {
	std::filesystem::path program;
	std::vector<std::string> args;
	// Its working folder: a folder that cannot be entered fails the start.
	std::filesystem::path dir;
	// A file for its stdin; without one its stdin is empty.
	std::filesystem::path input;
	// How long it may run, and how many bytes of stdout and of stderr are
	// kept; past either it is killed (with every process it started, on
	// POSIX). Zero means no limit.
	std::chrono::milliseconds deadline{0};
	std::size_t output_cap = 0;
};

struct process_run {
	int status = -1; // its exit status, or 128 + the signal that ended it
	std::string out;
	std::string err;
	bool timed_out = false;  // killed at the deadline
	bool overflowed = false; // killed for writing more than the cap
};

// Starts the program and waits for it to end. Returns false when it could
// not be started or waited for.
bool run_process(const process_plan &plan, process_run &run, failure &why);

#endif
