// Runs the built memoria in a working directory of the test's, with stdout and
// stderr captured as bytes.
#ifndef MEMORIA_TESTS_SPAWN_H
#define MEMORIA_TESTS_SPAWN_H

#include <filesystem>
#include <string>
#include <vector>

enum class console_kind {
	file,        // stdout goes to a file that the test reads back
	full,        // stdout is /dev/full: every write fails
	closed,      // stdout is not open at all
	broken_pipe, // stdout is a pipe whose reader has gone
	// stdout and stderr are pipes, and the program may not write a byte to
	// any file (a file-size limit of zero)
	no_file_room,
};

// Whether this platform can give the program such a stdout.
bool console_supported(console_kind console);

// Makes a new, empty directory under the system's temporary directory.
std::filesystem::path make_temp_dir();

struct run_result {
	int status = -1; // exit status, or 128 + signal number
	std::string out;
	std::string err;
};

// Runs `program` with `args` in `work`; its stdout and stderr go to files in
// `scratch`, which must lie outside `work`. Its stdin is the file `input`,
// or the test's own stdin when that is empty.
run_result run_program(const std::filesystem::path &program, const std::filesystem::path &work,
		       const std::filesystem::path &scratch,
		       console_kind console = console_kind::file,
		       const std::vector<std::string> &args = {},
		       const std::filesystem::path &input = {});

std::string read_bytes(const std::filesystem::path &file);
void write_bytes(const std::filesystem::path &file, const std::string &bytes);

#endif
