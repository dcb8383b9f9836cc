// Runs the built memoria with a console that fails it in a way that only a
// fork before exec can stage: stdout full, closed or a broken pipe, or no
// room for any file. POSIX only; the tests skip these cases elsewhere.
#ifndef MEMORIA_TESTS_HOSTILE_CONSOLE_H
#define MEMORIA_TESTS_HOSTILE_CONSOLE_H

#include <filesystem>

#include "subprocess.h"

enum class console_kind {
	full,        // stdout is /dev/full: every write fails
	closed,      // stdout is not open at all
	broken_pipe, // stdout is a pipe whose reader has gone
	// stdout and stderr are pipes, and the program may not write a byte to
	// any file (a file-size limit of zero)
	no_file_room,
};

inline constexpr bool hostile_consoles_supported =
#ifdef _WIN32
	false;
#else
	true;
#endif

// Runs program in work; what it wrote to stderr (and to stdout, where that
// is a pipe) goes through files in scratch, which lies outside work.
process_run run_with_console(const std::filesystem::path &program,
			     const std::filesystem::path &work,
			     const std::filesystem::path &scratch, console_kind console);

#endif
