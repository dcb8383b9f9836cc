#include "terminal.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#ifdef _WIN32
#include <direct.h>
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "exchange.h"

namespace {

// Kept as plain bytes before any signal can come: the handler may only
// make calls that are safe in one.
char folder_name[4096];
char connector_path[4096 + sizeof connector_file + 1];

extern "C" void on_interrupt(int /*signal*/)
{
	static const char reset[] = "\x1b[0m\n";
#ifdef _WIN32
	(void)_unlink(connector_path);
	(void)_rmdir(folder_name);
	(void)_write(1, reset, sizeof reset - 1);
#else
	(void)unlink(connector_path);
	(void)rmdir(folder_name);
	(void)write(STDOUT_FILENO, reset, sizeof reset - 1);
#endif
	_exit(130);
}

} // namespace

bool live_terminal()
{
#ifdef _WIN32
	if (_isatty(_fileno(stdin)) == 0 || _isatty(_fileno(stdout)) == 0)
		return false;
	HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
	DWORD mode = 0;
	return GetConsoleMode(out, &mode) != 0 &&
	       SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
#else
	return isatty(STDIN_FILENO) == 1 && isatty(STDOUT_FILENO) == 1;
#endif
}

bool colour_wanted()
{
	const char *no_colour = std::getenv("NO_COLOR");
	const char *term = std::getenv("TERM");
	return (no_colour == nullptr || *no_colour == '\0') &&
	       (term == nullptr || std::strcmp(term, "dumb") != 0);
}

bool remove_when_interrupted(const std::filesystem::path &folder)
{
	const std::string name = folder.string();
	const std::string file = (folder / connector_file).string();
	if (file.size() >= sizeof connector_path)
		return false;
	std::memcpy(folder_name, name.c_str(), name.size() + 1);
	std::memcpy(connector_path, file.c_str(), file.size() + 1);
	bool taken = std::signal(SIGINT, on_interrupt) != SIG_ERR &&
		     std::signal(SIGTERM, on_interrupt) != SIG_ERR;
#ifdef SIGHUP
	// The terminal closed under the game.
	taken = taken && std::signal(SIGHUP, on_interrupt) != SIG_ERR;
#endif
	return taken;
}
