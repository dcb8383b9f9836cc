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
	EXPECT_EQ(std::fflush(stdout), 0);
#ifdef _WIN32
	// As the program does: CR LF must reach the file as it stands.
	EXPECT_NE(_setmode(fileno(stdout), _O_BINARY), -1);
#endif
	const int saved = dup(fileno(stdout));
	EXPECT_NE(saved, -1);
	EXPECT_NE(dup2(fileno(sink), fileno(stdout)), -1);
	body();
	EXPECT_EQ(std::fflush(stdout), 0);
	EXPECT_NE(dup2(saved, fileno(stdout)), -1);
	EXPECT_EQ(close(saved), 0);
	std::string text;
	std::rewind(sink);
	for (int c = std::getc(sink); c != EOF; c = std::getc(sink))
		text.push_back(static_cast<char>(c));
	EXPECT_EQ(std::fclose(sink), 0);
	return text;
}
