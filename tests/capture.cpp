#include "capture.h"

#include <gtest/gtest.h>

#include <cstdio>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#define dup _dup
#define dup2 _dup2
#define close _close
#define fileno _fileno
#else
#include <unistd.h>
#endif

std::string capture_stdout(const std::function<void()> &body)
{
	std::FILE *sink = std::tmpfile();
	if (sink == nullptr) {
		ADD_FAILURE() << "tmpfile failed";
		return {};
	}
	std::fflush(stdout);
#ifdef _WIN32
	_setmode(fileno(stdout), _O_BINARY);
#endif
	const int saved = dup(fileno(stdout));
	dup2(fileno(sink), fileno(stdout));
	body();
	std::fflush(stdout);
	dup2(saved, fileno(stdout));
	close(saved);
	std::string text;
	std::rewind(sink);
	for (int c = std::getc(sink); c != EOF; c = std::getc(sink))
		text.push_back(static_cast<char>(c));
	std::fclose(sink);
	return text;
}
