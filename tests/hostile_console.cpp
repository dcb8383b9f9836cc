#include "hostile_console.h"

#include <gtest/gtest.h>

#include <string>

#include "scratch.h"

#ifdef _WIN32
process_run run_with_console(const std::filesystem::path &, const std::filesystem::path &,
			     const std::filesystem::path &, console_kind)
{
	ADD_FAILURE() << "a hostile console can only be staged on POSIX";
	return {};
}
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The pipes of a run whose console is one: stdout, then stderr, each a read
// and a write end, or -1.
struct console_pipes {
	int out[2] = {-1, -1};
	int err[2] = {-1, -1};
};

bool redirect(int fd, int target)
{
	return fd >= 0 && dup2(fd, target) >= 0 && close(fd) == 0;
}

bool open_onto(const char *name, int target)
{
	return redirect(open(name, O_WRONLY | O_CREAT | O_TRUNC, 0644), target);
}

// stdout and stderr as the console kind has them.
bool set_console(const char *err, console_kind console, console_pipes &pipes)
{
	if (console == console_kind::no_file_room) {
		const rlimit none{0, 0};
		close(pipes.out[0]);
		close(pipes.err[0]);
		return redirect(pipes.out[1], STDOUT_FILENO) &&
		       redirect(pipes.err[1], STDERR_FILENO) && setrlimit(RLIMIT_FSIZE, &none) == 0;
	}
	if (!open_onto(err, STDERR_FILENO))
		return false;
	switch (console) {
	case console_kind::closed:
		return close(STDOUT_FILENO) == 0;
	case console_kind::broken_pipe:
		return redirect(pipes.out[1], STDOUT_FILENO);
	default:
		return open_onto("/dev/full", STDOUT_FILENO);
	}
}

// Only async-signal-safe calls between fork and exec. The signals that a
// failed write raises are put back to their default, whatever the test
// runner left, so that a program that does not handle them dies of them.
[[noreturn]] void exec_child(const char *work, const char *err, console_kind console,
			     console_pipes &pipes, const char *program)
{
	(void)signal(SIGPIPE, SIG_DFL);
	(void)signal(SIGXFSZ, SIG_DFL);
	if (chdir(work) != 0 || !set_console(err, console, pipes))
		_exit(125);
	execl(program, program, static_cast<char *>(nullptr));
	_exit(126);
}

std::string drain(int fd)
{
	std::string bytes;
	char block[256];
	for (ssize_t got = 0; (got = read(fd, block, sizeof block)) > 0;)
		bytes.append(block, static_cast<std::size_t>(got));
	close(fd);
	return bytes;
}

} // namespace

process_run run_with_console(const std::filesystem::path &program,
			     const std::filesystem::path &work,
			     const std::filesystem::path &scratch, console_kind console)
{
	process_run run;
	const std::string err = (scratch / "stderr").string();
	console_pipes pipes;
	const bool out_pipe =
		console == console_kind::broken_pipe || console == console_kind::no_file_room;
	if ((out_pipe && pipe(pipes.out) != 0) ||
	    (console == console_kind::no_file_room && pipe(pipes.err) != 0)) {
		ADD_FAILURE() << "pipe failed";
		return run;
	}
	// No reader, before the program starts: its first write finds the pipe
	// broken.
	if (console == console_kind::broken_pipe)
		close(pipes.out[0]);
	const pid_t pid = fork();
	if (pid == 0)
		exec_child(work.c_str(), err.c_str(), console, pipes, program.c_str());
	for (int *ends : {pipes.out, pipes.err}) {
		if (ends[1] >= 0)
			close(ends[1]);
	}
	int wstatus = 0;
	if (pid < 0 || waitpid(pid, &wstatus, 0) != pid) {
		ADD_FAILURE() << "could not run " << program;
		return run;
	}
	if (console == console_kind::no_file_room) {
		run.out = drain(pipes.out[0]);
		run.err = drain(pipes.err[0]);
	} else {
		run.err = bytes_of(err);
	}
	run.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
	return run;
}
#endif
