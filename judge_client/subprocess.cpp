#include "subprocess.h"

#include <fcntl.h>

#include <cerrno>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <windows.h>

#include <thread>
#else
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;
using std::chrono::steady_clock;

namespace {

// The words of its command line, the program's name first.
std::vector<std::string> command_words(const process_plan &plan)
{
	std::string name = plan.program.string();
#ifdef _WIN32
	// A cross build names programs by their Unix path; Wine shows the Unix
	// root as drive Z:.
	if (!name.empty() && name[0] == '/')
		name = "Z:" + name;
#endif
	std::vector<std::string> words{name};
	words.insert(words.end(), plan.args.begin(), plan.args.end());
	return words;
}

std::vector<char *> argv_of(std::vector<std::string> &words)
{
	std::vector<char *> argv;
	argv.reserve(words.size() + 1);
	for (std::string &w : words)
		argv.push_back(w.data());
	argv.push_back(nullptr);
	return argv;
}

// Keeps what fits under the cap; says whether all of it did.
bool keep(std::string &text, const char *bytes, std::size_t size, std::size_t cap)
{
	if (cap != 0 && text.size() + size > cap) {
		text.append(bytes, cap - text.size());
		return false;
	}
	text.append(bytes, size);
	return true;
}

} // namespace

#ifdef _WIN32
namespace {

void read_all(int fd, std::string &text, std::size_t cap, bool &overflowed)
{
	char block[512];
	for (int got = 0; (got = _read(fd, block, sizeof block)) > 0;) {
		if (!overflowed && !keep(text, block, static_cast<std::size_t>(got), cap))
			overflowed = true;
	}
	_close(fd);
}

// The child takes descriptors 0, 1 and 2 from ours and its working folder
// from ours, so each is put in place for the spawn and restored after.
// Restoring a descriptor just duplicated cannot fail. Returns the child's
// process handle, or -1 with errno set.
intptr_t spawn_with(const process_plan &plan, char *const argv[], int out, int err)
{
	int in = -1;
	if (!plan.input.empty() && (in = _wopen(plan.input.c_str(), _O_RDONLY | _O_BINARY)) < 0)
		return -1;
	const int saved[3] = {_dup(0), _dup(1), _dup(2)};
	const fs::path here = fs::current_path();
	std::error_code entered;
	fs::current_path(plan.dir, entered);
	intptr_t child = -1;
	int error = entered ? ENOENT : 0;
	if (!entered && (in < 0 || _dup2(in, 0) == 0) && _dup2(out, 1) == 0 && _dup2(err, 2) == 0)
		child = _spawnv(_P_NOWAIT, argv[0], argv);
	if (error == 0)
		error = errno;
	for (int fd = 0; fd < 3; ++fd) {
		(void)_dup2(saved[fd], fd);
		_close(saved[fd]);
	}
	if (in >= 0)
		_close(in);
	std::error_code ignored;
	fs::current_path(here, ignored);
	errno = error;
	return child;
}

} // namespace

bool run_process(const process_plan &plan, process_run &run, failure &why)
{
	int out[2];
	int err[2];
	if (_pipe(out, 4096, _O_BINARY | _O_NOINHERIT) != 0) {
		why = system_failure("pipe", errno);
		return false;
	}
	if (_pipe(err, 4096, _O_BINARY | _O_NOINHERIT) != 0) {
		why = system_failure("pipe", errno);
		_close(out[0]);
		_close(out[1]);
		return false;
	}
	std::vector<std::string> words = command_words(plan);
	const std::vector<char *> argv = argv_of(words);
	const intptr_t child = spawn_with(plan, argv.data(), out[1], err[1]);
	const int spawn_error = errno;
	_close(out[1]);
	_close(err[1]);
	bool out_over = false;
	bool err_over = false;
	std::thread errors([&] { read_all(err[0], run.err, plan.output_cap, err_over); });
	std::thread console([&] { read_all(out[0], run.out, plan.output_cap, out_over); });
	const auto process = reinterpret_cast<HANDLE>(child);
	if (child != -1) {
		const DWORD wait = plan.deadline.count() > 0
					   ? static_cast<DWORD>(plan.deadline.count())
					   : INFINITE;
		if (WaitForSingleObject(process, wait) == WAIT_TIMEOUT) {
			run.timed_out = true;
			TerminateProcess(process, 1);
		}
	}
	console.join();
	errors.join();
	if (child == -1) {
		why = system_failure("cannot start " + plan.program.string() + " in " +
					     plan.dir.string(),
				     spawn_error);
		return false;
	}
	DWORD code = 0;
	WaitForSingleObject(process, INFINITE);
	const bool got_code = GetExitCodeProcess(process, &code) != 0;
	CloseHandle(process);
	if (!got_code) {
		why = {"cannot read the exit status of " + plan.program.string()};
		return false;
	}
	run.overflowed = out_over || err_over;
	run.status = static_cast<int>(code);
	return true;
}
#else
namespace {

// Every step of the set-up is checked: a judge started in another folder
// would judge another game's file. The child gets its own process group, to
// be killed whole; the signal mask and dispositions that its caller chose
// for itself are not passed on; it inherits no descriptor but its three.
int spawn_with(const process_plan &plan, char *const argv[], int out, int err, pid_t &pid)
{
	posix_spawn_file_actions_t actions;
	posix_spawnattr_t attributes;
	int error = posix_spawn_file_actions_init(&actions);
	if (error != 0)
		return error;
	if ((error = posix_spawnattr_init(&attributes)) != 0) {
		posix_spawn_file_actions_destroy(&actions);
		return error;
	}
	sigset_t none;
	sigset_t defaults;
	sigemptyset(&none);
	sigemptyset(&defaults);
	for (const int signal_number : {SIGPIPE, SIGXFSZ, SIGINT, SIGTERM, SIGHUP})
		sigaddset(&defaults, signal_number);
	const std::string input = plan.input.empty() ? "/dev/null" : plan.input.string();
	const std::string dir = plan.dir.string();
	const int steps[] = {
		posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, input.c_str(), O_RDONLY,
						 0),
		posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO),
		posix_spawn_file_actions_adddup2(&actions, err, STDERR_FILENO),
		posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1),
		posix_spawn_file_actions_addchdir_np(&actions, dir.c_str()),
		posix_spawnattr_setpgroup(&attributes, 0),
		posix_spawnattr_setsigmask(&attributes, &none),
		posix_spawnattr_setsigdefault(&attributes, &defaults),
		posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP |
							      POSIX_SPAWN_SETSIGMASK |
							      POSIX_SPAWN_SETSIGDEF),
	};
	for (const int step : steps) {
		if (error == 0)
			error = step;
	}
	if (error == 0)
		error = posix_spawn(&pid, argv[0], &actions, &attributes, argv, environ);
	posix_spawnattr_destroy(&attributes);
	posix_spawn_file_actions_destroy(&actions);
	return error;
}

// Milliseconds left before the deadline, for poll: -1 when there is none.
int time_left(const process_plan &plan, steady_clock::time_point started)
{
	if (plan.deadline.count() <= 0)
		return -1;
	const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
		started + plan.deadline - steady_clock::now());
	return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Reads stdout and stderr of the child until both end, killing its process
// group at the deadline or when it writes past the cap.
void read_both(const process_plan &plan, pid_t pid, int out, int err, process_run &run)
{
	const steady_clock::time_point started = steady_clock::now();
	pollfd fds[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
	std::string *texts[2] = {&run.out, &run.err};
	bool killed = false;
	for (int open_count = 2; open_count > 0;) {
		const int ready = poll(fds, 2, killed ? -1 : time_left(plan, started));
		if (ready < 0 && errno == EINTR)
			continue;
		if (ready < 0)
			return;
		if (ready == 0) {
			run.timed_out = killed = true;
			(void)kill(-pid, SIGKILL);
			continue;
		}
		for (int i = 0; i < 2; ++i) {
			if (fds[i].fd < 0 || fds[i].revents == 0)
				continue;
			char block[4096];
			const ssize_t got = read(fds[i].fd, block, sizeof block);
			if (got < 0 && errno == EINTR)
				continue;
			if (got <= 0) {
				fds[i].fd = -1;
				--open_count;
			} else if (!killed && !keep(*texts[i], block, static_cast<std::size_t>(got),
						    plan.output_cap)) {
				run.overflowed = killed = true;
				(void)kill(-pid, SIGKILL);
			}
		}
	}
}

int wait_for(pid_t pid, int &wstatus)
{
	while (waitpid(pid, &wstatus, 0) < 0) {
		if (errno != EINTR)
			return errno;
	}
	return 0;
}

void close_all(std::initializer_list<int> fds)
{
	for (const int fd : fds) {
		if (fd >= 0)
			(void)close(fd);
	}
}

} // namespace

bool run_process(const process_plan &plan, process_run &run, failure &why)
{
	int out[2] = {-1, -1};
	int err[2] = {-1, -1};
	if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
		why = system_failure("pipe", errno);
		close_all({out[0], out[1], err[0], err[1]});
		return false;
	}
	std::vector<std::string> words = command_words(plan);
	const std::vector<char *> argv = argv_of(words);
	pid_t pid = 0;
	const int error = spawn_with(plan, argv.data(), out[1], err[1], pid);
	close_all({out[1], err[1]});
	if (error == 0)
		read_both(plan, pid, out[0], err[0], run);
	close_all({out[0], err[0]});
	if (error != 0) {
		why = system_failure("cannot start " + plan.program.string() + " in " +
					     plan.dir.string(),
				     error);
		return false;
	}
	int wstatus = 0;
	if (const int wait_error = wait_for(pid, wstatus); wait_error != 0) {
		why = system_failure("wait", wait_error);
		return false;
	}
	run.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
	return true;
}
#endif
