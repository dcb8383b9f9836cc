#include "spawn.h"

#include <gtest/gtest.h>

#include <fcntl.h>

#ifdef _WIN32
#include <direct.h>
#include <io.h>
#include <process.h>
#else
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
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
	if (!bytes.empty())
		out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
	ASSERT_TRUE(out.good()) << file;
}

fs::path make_temp_dir()
{
	const auto seed = std::chrono::steady_clock::now().time_since_epoch().count();
	for (long n = 0; n < 1000; ++n) {
		fs::path dir =
			fs::temp_directory_path() / ("memoria-test-" + std::to_string(seed + n));
		std::error_code error;
		if (fs::create_directory(dir, error))
			return dir;
	}
	ADD_FAILURE() << "no temporary directory could be made";
	return {};
}

bool console_supported(console_kind console)
{
#ifdef _WIN32
	return console == console_kind::file;
#else
	(void)console;
	return true;
#endif
}

namespace {

std::vector<std::string> command_line(const fs::path &program, const std::vector<std::string> &args)
{
	std::string name = program.string();
#ifdef _WIN32
	// A cross build names the program by its Unix path; Wine shows the Unix
	// root as drive Z:.
	if (!name.empty() && name[0] == '/')
		name = "Z:" + name;
#endif
	std::vector<std::string> words{name};
	words.insert(words.end(), args.begin(), args.end());
	return words;
}

#ifdef _WIN32
// The child inherits stdout and stderr from descriptors 1 and 2, and its
// working directory from ours: both are set around the spawn and put back.
int spawn_and_wait(const std::string &work, const std::string &in, const std::string &out,
		   const std::string &err, console_kind, char *const argv[])
{
	const fs::path here = fs::current_path();
	const int saved_in = _dup(0);
	if (!in.empty()) {
		const int in_fd = _open(in.c_str(), _O_RDONLY | _O_BINARY);
		_dup2(in_fd, 0);
		_close(in_fd);
	}
	const int saved_out = _dup(1);
	const int saved_err = _dup(2);
	const int out_fd = _open(out.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, 0600);
	const int err_fd = _open(err.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, 0600);
	std::fflush(stdout);
	std::fflush(stderr);
	_dup2(out_fd, 1);
	_dup2(err_fd, 2);
	_close(out_fd);
	_close(err_fd);
	fs::current_path(work);
	const intptr_t status = _spawnv(_P_WAIT, argv[0], argv);
	fs::current_path(here);
	_dup2(saved_in, 0);
	_dup2(saved_out, 1);
	_dup2(saved_err, 2);
	_close(saved_in);
	_close(saved_out);
	_close(saved_err);
	return static_cast<int>(status);
}
#else
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
bool set_console(const char *out, const char *err, console_kind console, console_pipes &pipes)
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
	case console_kind::full:
		return open_onto("/dev/full", STDOUT_FILENO);
	default:
		return open_onto(out, STDOUT_FILENO);
	}
}

// Only async-signal-safe calls between fork and exec. The signals that a
// failed write raises are put back to their default, whatever the test
// runner left, so that a program that does not handle them dies of them.
[[noreturn]] void exec_child(const char *work, const char *in, const char *out, const char *err,
			     console_kind console, console_pipes &pipes, char *const argv[])
{
	(void)signal(SIGPIPE, SIG_DFL);
	(void)signal(SIGXFSZ, SIG_DFL);
	if (chdir(work) != 0)
		_exit(125);
	if (*in != '\0') {
		const int in_fd = open(in, O_RDONLY);
		if (in_fd < 0 || dup2(in_fd, STDIN_FILENO) < 0 || close(in_fd) != 0)
			_exit(125);
	}
	if (!set_console(out, err, console, pipes))
		_exit(125);
	execv(argv[0], argv);
	_exit(126);
}

// Copies what the program wrote into a pipe to the file that a run of
// another console kind would have left.
void drain(int fd, const std::string &file)
{
	std::string bytes;
	char block[256];
	for (ssize_t got = 0; (got = read(fd, block, sizeof block)) > 0;)
		bytes.append(block, static_cast<std::size_t>(got));
	close(fd);
	write_bytes(file, bytes);
}

int spawn_and_wait(const std::string &work, const std::string &in, const std::string &out,
		   const std::string &err, console_kind console, char *const argv[])
{
	console_pipes pipes;
	const bool out_pipe =
		console == console_kind::broken_pipe || console == console_kind::no_file_room;
	if ((out_pipe && pipe(pipes.out) != 0) ||
	    (console == console_kind::no_file_room && pipe(pipes.err) != 0))
		return -1;
	// No reader, before the program starts: its first write finds the pipe
	// broken.
	if (console == console_kind::broken_pipe)
		close(pipes.out[0]);
	const pid_t pid = fork();
	if (pid < 0)
		return -1;
	if (pid == 0)
		exec_child(work.c_str(), in.c_str(), out.c_str(), err.c_str(), console, pipes,
			   argv);
	for (int *ends : {pipes.out, pipes.err}) {
		if (ends[1] >= 0)
			close(ends[1]);
	}
	int wstatus = 0;
	if (waitpid(pid, &wstatus, 0) != pid)
		return -1;
	if (console == console_kind::no_file_room) {
		drain(pipes.out[0], out);
		drain(pipes.err[0], err);
	}
	return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
}
#endif

} // namespace

run_result run_program(const fs::path &program, const fs::path &work, const fs::path &scratch,
		       console_kind console, const std::vector<std::string> &args,
		       const fs::path &input)
{
	const std::string out = (scratch / "stdout").string();
	const std::string err = (scratch / "stderr").string();
	std::vector<std::string> words = command_line(program, args);
	std::vector<char *> argv;
	argv.reserve(words.size() + 1);
	for (std::string &w : words)
		argv.push_back(w.data());
	argv.push_back(nullptr);

	run_result result;
	result.status =
		spawn_and_wait(work.string(), input.string(), out, err, console, argv.data());
	EXPECT_GE(result.status, 0) << "could not run " << words[0];
	result.out = read_bytes(out);
	result.err = read_bytes(err);
	return result;
}
