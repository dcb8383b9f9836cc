#include "judge.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <utility>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#else
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

int card_value(int position)
{
	return position / 2 + 1;
}

namespace {

// splitmix64: a small generator whose output is fixed by its seed alone.
std::uint64_t next_random(std::uint64_t &state)
{
	std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
	z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
	z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
	return z ^ (z >> 31);
}

// A value below bound with no bias: draws that fall in the last, partial
// run of bound values are drawn again.
int below(std::uint64_t &state, int bound)
{
	const auto b = static_cast<std::uint64_t>(bound);
	const std::uint64_t limit = UINT64_MAX - UINT64_MAX % b;
	std::uint64_t r = next_random(state);
	while (r >= limit)
		r = next_random(state);
	return static_cast<int>(r % b);
}

} // namespace

card_deal unshuffled_deal()
{
	card_deal deal{};
	for (int p = 0; p < card_count; ++p)
		deal[static_cast<std::size_t>(p)] = p;
	return deal;
}

card_deal deal_cards(std::uint64_t seed)
{
	card_deal deal = unshuffled_deal();
	for (int i = card_count - 1; i > 0; --i)
		std::swap(deal[static_cast<std::size_t>(i)],
			  deal[static_cast<std::size_t>(below(seed, i + 1))]);
	return deal;
}

std::uint64_t random_seed()
{
	std::random_device source;
	return (std::uint64_t{source()} << 32) ^ source();
}

namespace {

const char connector[] = "conector.txt";

bool write_file(const std::filesystem::path &name, const std::string &bytes)
{
	std::ofstream out(name, std::ios::binary | std::ios::trunc);
	out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
	out.close();
	return !out.fail();
}

bool read_file(const std::filesystem::path &name, std::string &bytes)
{
	std::ifstream in(name, std::ios::binary);
	bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
	return !in.bad() && in.is_open();
}

std::string reason(const char *what, int error)
{
	return std::string(what) + ": " + std::strerror(error);
}

} // namespace

#ifdef _WIN32
namespace {

std::string read_all(int fd)
{
	std::string text;
	char block[256];
	for (int got = 0; (got = _read(fd, block, sizeof block)) > 0;)
		text.append(block, static_cast<std::size_t>(got));
	return text;
}

// Starts program with its stdout on fd, the working directory already set.
// The child takes descriptor 1 from ours, so it is put in place for the
// spawn and restored after; restoring a descriptor just duplicated cannot
// fail. Returns the child's handle, or -1 with errno set.
intptr_t spawn_with_stdout(const std::string &program, int fd)
{
	const int saved = _dup(1);
	if (saved == -1)
		return -1;
	intptr_t child = -1;
	if (_dup2(fd, 1) == 0)
		child = _spawnl(_P_NOWAIT, program.c_str(), program.c_str(), nullptr);
	const int error = errno;
	(void)_dup2(saved, 1);
	_close(saved);
	errno = error;
	return child;
}

} // namespace

// Windows has no spawn into another folder: ours is changed for the spawn,
// and a folder that cannot be entered fails the run, since memoria started
// anywhere else would judge another file. stderr is not kept apart.
bool run_program(const std::string &program, const std::string &dir, program_run &run,
		 std::string &failure)
{
	int fds[2];
	if (_pipe(fds, 4096, _O_BINARY | _O_NOINHERIT) != 0) {
		failure = reason("pipe", errno);
		return false;
	}
	const std::filesystem::path here = std::filesystem::current_path();
	std::error_code entered;
	std::filesystem::current_path(dir, entered);
	const intptr_t child = entered ? -1 : spawn_with_stdout(program, fds[1]);
	const int spawn_error = errno;
	_close(fds[1]);
	std::error_code ignored;
	std::filesystem::current_path(here, ignored);
	if (child == -1) {
		_close(fds[0]);
		failure = entered ? "cannot enter " + dir + ": " + entered.message()
				  : reason(("cannot start " + program).c_str(), spawn_error);
		return false;
	}
	run.console = read_all(fds[0]);
	_close(fds[0]);
	int code = 0;
	if (_cwait(&code, child, 0) == -1) {
		failure = reason("wait", errno);
		return false;
	}
	run.status = code;
	return true;
}
#else
namespace {

// Reads stdout and stderr of the child until both end.
void read_both(int out, int err, program_run &run)
{
	pollfd fds[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
	std::string *texts[2] = {&run.console, &run.errors};
	int open_count = 2;
	while (open_count > 0) {
		if (poll(fds, 2, -1) < 0) {
			if (errno == EINTR)
				continue;
			return;
		}
		for (int i = 0; i < 2; ++i) {
			if (fds[i].fd < 0 || fds[i].revents == 0)
				continue;
			char block[512];
			const ssize_t got = read(fds[i].fd, block, sizeof block);
			if (got < 0 && errno == EINTR)
				continue;
			if (got <= 0) {
				fds[i].fd = -1;
				--open_count;
			} else {
				texts[i]->append(block, static_cast<std::size_t>(got));
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

// Starts program in dir with its stdout and stderr on out and err. Every step
// of the set-up is checked: a child started in another folder would judge
// another game's file. Returns 0 or an errno value.
int spawn_in(const std::string &program, const std::string &dir, int out, int err, pid_t &pid)
{
	posix_spawn_file_actions_t actions;
	int error = posix_spawn_file_actions_init(&actions);
	if (error != 0)
		return error;
	error = posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
	if (error == 0)
		error = posix_spawn_file_actions_adddup2(&actions, err, STDERR_FILENO);
	if (error == 0)
		error = posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
	std::string name = program;
	char *const argv[] = {name.data(), nullptr};
	if (error == 0)
		error = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ);
	posix_spawn_file_actions_destroy(&actions);
	return error;
}

} // namespace

bool run_program(const std::string &program, const std::string &dir, program_run &run,
		 std::string &failure)
{
	int out[2] = {-1, -1};
	int err[2] = {-1, -1};
	if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
		failure = reason("pipe", errno);
		for (const int fd : {out[0], out[1], err[0], err[1]})
			if (fd >= 0)
				close(fd);
		return false;
	}
	pid_t pid = 0;
	const int error = spawn_in(program, dir, out[1], err[1], pid);
	close(out[1]);
	close(err[1]);
	if (error == 0)
		read_both(out[0], err[0], run);
	close(out[0]);
	close(err[0]);
	if (error != 0) {
		failure = reason(("cannot start " + program).c_str(), error);
		return false;
	}
	int wstatus = 0;
	if (const int wait_error = wait_for(pid, wstatus); wait_error != 0) {
		failure = reason("wait", wait_error);
		return false;
	}
	run.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
	return true;
}
#endif

namespace {

// The first line of what the program wrote to stderr, if anything.
std::string first_line(const std::string &text)
{
	const std::size_t end = text.find_first_of("\r\n");
	return text.substr(0, end);
}

} // namespace

int judge_move(const std::string &program, const std::string &dir, int first, int second,
	       std::string &message, std::string &failure)
{
	const std::filesystem::path file = std::filesystem::path(dir) / connector;
	if (!write_file(file, request_line(first, second))) {
		failure = std::string("cannot write ") + connector;
		return -1;
	}
	program_run run;
	if (!run_program(program, dir, run, failure))
		return -1;
	if (run.status != 0) {
		failure = "memoria failed with exit status " + std::to_string(run.status);
		if (!run.errors.empty())
			failure += ": " + first_line(run.errors);
		return -1;
	}
	std::string reply;
	if (!read_file(file, reply)) {
		failure = std::string("cannot read the reply in ") + connector;
		return -1;
	}
	const int verdict = verdict_of_reply(reply, first, second);
	const std::size_t line_end = run.console.find("\r\n");
	if (verdict < 0 || line_end == std::string::npos ||
	    run.console.substr(line_end + 2) != std::to_string(verdict)) {
		failure = "memoria gave a malformed reply to the move " + std::to_string(first) +
			  " " + std::to_string(second);
		return -1;
	}
	message = run.console.substr(0, line_end);
	return verdict;
}

std::string request_line(int first, int second)
{
	return std::to_string(first) + " " + std::to_string(second) + "\r\n";
}

int verdict_of_reply(const std::string &reply, int first, int second)
{
	std::string move = std::to_string(first);
	move += ' ';
	move += std::to_string(second);
	move += " \r\n";
	for (int verdict = 0; verdict <= 1; ++verdict) {
		std::string expected = move;
		expected += move;
		expected += std::to_string(verdict) + " \r\n";
		expected += std::to_string(verdict) + " \r\n";
		expected += '0';
		if (reply == expected)
			return verdict;
	}
	return -1;
}

namespace {

// Windows-1252 bytes 80 to 9F; 0 marks the five that are not defined.
constexpr char16_t cp1252_high[32] = {
	0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
	0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
	0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

void append_utf8(std::string &out, unsigned code)
{
	if (code < 0x80) {
		out += static_cast<char>(code);
	} else if (code < 0x800) {
		out += static_cast<char>(0xC0 | (code >> 6));
		out += static_cast<char>(0x80 | (code & 0x3F));
	} else {
		out += static_cast<char>(0xE0 | (code >> 12));
		out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
		out += static_cast<char>(0x80 | (code & 0x3F));
	}
}

} // namespace

std::string utf8_from_cp1252(const std::string &text)
{
	std::string out;
	for (char c : text) {
		const unsigned byte = static_cast<unsigned char>(c);
		unsigned code = byte;
		if (byte >= 0x80 && byte < 0xA0)
			code = cp1252_high[byte - 0x80] != 0 ? cp1252_high[byte - 0x80] : 0xFFFD;
		append_utf8(out, code);
	}
	return out;
}
