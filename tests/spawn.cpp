#include "spawn.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

std::string read_bytes(const fs::path &file)
{
	std::ifstream in(file, std::ios::binary);
	return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_bytes(const fs::path &file, const std::string &bytes)
{
	std::ofstream out(file, std::ios::binary | std::ios::trunc);
	out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
	ASSERT_TRUE(out.good()) << file;
}

namespace {

// Only async-signal-safe calls between fork and exec.
[[noreturn]] void exec_child(const char *work, const char *out, const char *err,
			     console_kind console, char *const argv[])
{
	if (chdir(work) != 0)
		_exit(125);
	const int err_fd = open(err, O_WRONLY | O_CREAT | O_TRUNC, 0644);
	if (err_fd < 0 || dup2(err_fd, STDERR_FILENO) < 0 || close(err_fd) != 0)
		_exit(125);
	if (console == console_kind::closed) {
		close(STDOUT_FILENO);
	} else {
		const char *target = console == console_kind::full ? "/dev/full" : out;
		const int out_fd = open(target, O_WRONLY | O_CREAT | O_TRUNC, 0644);
		if (out_fd < 0 || dup2(out_fd, STDOUT_FILENO) < 0 || close(out_fd) != 0)
			_exit(125);
	}
	execv(argv[0], argv);
	_exit(126);
}

} // namespace

run_result run_program(const fs::path &program, const fs::path &work, const fs::path &scratch,
		       console_kind console, const std::vector<std::string> &args)
{
	const std::string out = (scratch / "stdout").string();
	const std::string err = (scratch / "stderr").string();
	std::vector<std::string> words{program.string()};
	words.insert(words.end(), args.begin(), args.end());
	std::vector<char *> argv;
	argv.reserve(words.size() + 1);
	for (std::string &w : words)
		argv.push_back(w.data());
	argv.push_back(nullptr);

	run_result result;
	const pid_t pid = fork();
	if (pid < 0) {
		ADD_FAILURE() << "fork failed";
		return result;
	}
	if (pid == 0)
		exec_child(work.c_str(), out.c_str(), err.c_str(), console, argv.data());
	int wstatus = 0;
	if (waitpid(pid, &wstatus, 0) != pid) {
		ADD_FAILURE() << "waitpid failed";
		return result;
	}
	result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
	result.out = read_bytes(out);
	result.err = read_bytes(err);
	return result;
}
