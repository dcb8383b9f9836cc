#include "judge.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#else
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "game.h"

namespace {

const char connector[] = "conector.txt";

std::string read_all(int fd)
{
	std::string text;
	char block[256];
	for (;;) {
#ifdef _WIN32
		const int got = _read(fd, block, sizeof block);
#else
		const ssize_t got = read(fd, block, sizeof block);
		if (got < 0 && errno == EINTR)
			continue;
#endif
		if (got <= 0)
			return text;
		text.append(block, static_cast<std::size_t>(got));
	}
}

bool write_file(const char *name, const std::string &bytes)
{
	std::ofstream out(name, std::ios::binary | std::ios::trunc);
	out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
	out.close();
	return !out.fail();
}

bool read_file(const char *name, std::string &bytes)
{
	std::ifstream in(name, std::ios::binary);
	bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
	return !in.bad() && in.is_open();
}

} // namespace

#ifdef _WIN32
// The child takes descriptor 1 from ours: the pipe is put there for the spawn.
bool run_program(const std::string &program, std::string &console, int &status,
		 std::string &failure)
{
	int fds[2];
	if (_pipe(fds, 4096, _O_BINARY | _O_NOINHERIT) != 0) {
		failure = std::string("pipe: ") + std::strerror(errno);
		return false;
	}
	const int saved = _dup(1);
	_dup2(fds[1], 1);
	const intptr_t child = _spawnl(_P_NOWAIT, program.c_str(), program.c_str(), nullptr);
	const int spawn_error = errno;
	_dup2(saved, 1);
	_close(saved);
	_close(fds[1]);
	if (child == -1) {
		_close(fds[0]);
		failure = "cannot start " + program + ": " + std::strerror(spawn_error);
		return false;
	}
	console = read_all(fds[0]);
	_close(fds[0]);
	int code = 0;
	if (_cwait(&code, child, 0) == -1) {
		failure = std::string("wait: ") + std::strerror(errno);
		return false;
	}
	status = code;
	return true;
}
#else
bool run_program(const std::string &program, std::string &console, int &status,
		 std::string &failure)
{
	int fds[2];
	if (pipe(fds) != 0) {
		failure = std::string("pipe: ") + std::strerror(errno);
		return false;
	}
	posix_spawn_file_actions_t actions;
	posix_spawn_file_actions_init(&actions);
	posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
	posix_spawn_file_actions_addclose(&actions, fds[0]);
	posix_spawn_file_actions_addclose(&actions, fds[1]);
	std::string name = program;
	char *const argv[] = {name.data(), nullptr};
	pid_t pid = 0;
	const int error = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ);
	posix_spawn_file_actions_destroy(&actions);
	close(fds[1]);
	if (error != 0) {
		close(fds[0]);
		failure = "cannot start " + program + ": " + std::strerror(error);
		return false;
	}
	console = read_all(fds[0]);
	close(fds[0]);
	int wstatus = 0;
	while (waitpid(pid, &wstatus, 0) < 0) {
		if (errno != EINTR) {
			failure = std::string("wait: ") + std::strerror(errno);
			return false;
		}
	}
	status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
	return true;
}
#endif

int judge_move(const std::string &program, int first, int second, std::string &message,
	       std::string &failure)
{
	if (!write_file(connector, request_line(first, second))) {
		failure = std::string("cannot write ") + connector;
		return -1;
	}
	std::string console;
	int status = -1;
	if (!run_program(program, console, status, failure))
		return -1;
	if (status != 0) {
		failure = "memoria failed with exit status " + std::to_string(status);
		return -1;
	}
	std::string reply;
	if (!read_file(connector, reply)) {
		failure = std::string("cannot read the reply in ") + connector;
		return -1;
	}
	const int verdict = verdict_of_reply(reply, first, second);
	const std::size_t line_end = console.find("\r\n");
	if (verdict < 0 || line_end == std::string::npos ||
	    console.substr(line_end + 2) != std::to_string(verdict)) {
		failure = "memoria gave a malformed reply to the move " + std::to_string(first) +
			  " " + std::to_string(second);
		return -1;
	}
	message = console.substr(0, line_end);
	return verdict;
}
