// A whole judged move on arbitrary request bytes: the console shows one of
// the four message lines and the verdict, the reply record has its five
// lines, and the verdict is 1 only for the two cards of one pair.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "files.h"
#include "property.h"
#include "run.h"
#include "scanf_oracle.h"

namespace {

std::string contents_of(const char *name)
{
	std::string bytes;
	failure why;
	require(read_file(name, bytes, why), "read a file back");
	return bytes;
}

// Runs one move with stdout going to a file; returns what it wrote there.
std::string run_move(int &status)
{
	require(std::fflush(stdout) == 0, "flush stdout");
	const int saved = dup(STDOUT_FILENO);
	const int sink = open("console.out", O_WRONLY | O_CREAT | O_TRUNC, 0644);
	require(saved >= 0 && sink >= 0 && dup2(sink, STDOUT_FILENO) >= 0, "redirect stdout");
	close(sink);
	status = run_connector();
	require(std::fflush(stdout) == 0, "flush stdout");
	require(dup2(saved, STDOUT_FILENO) >= 0 && close(saved) == 0, "restore stdout");
	return contents_of("console.out");
}

std::string expected_reply(std::int32_t first, std::int32_t second, int verdict)
{
	const std::string move = std::to_string(first) + " " + std::to_string(second) + " \r\n";
	const std::string v = std::to_string(verdict) + " \r\n";
	return move + move + v + v + "0";
}

bool same_pair(std::int32_t first, std::int32_t second)
{
	const bool on = first >= 0 && first < 16 && second >= 0 && second < 16;
	return on && first != second && first / 2 == second / 2;
}

std::filesystem::path work_dir;

void remove_work_dir()
{
	std::error_code ignored;
	std::filesystem::remove_all(work_dir, ignored);
}

} // namespace

// Every move runs in a scratch directory of its own, removed at exit. Give
// the corpus directories as absolute paths.
extern "C" int LLVMFuzzerInitialize(int * /*argc*/, char *** /*argv*/)
{
	failure why;
	require(make_scratch_folder("memoria-fuzz", work_dir, why) && chdir(work_dir.c_str()) == 0,
		"working directory");
	require(std::atexit(remove_work_dir) == 0, "atexit");
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
	failure why;
	require(write_file("conector.txt", std::string(reinterpret_cast<const char *>(data), size),
			   why),
		"write the request");
	int status = -1;
	const std::string console = run_move(status);
	require(status == 0, "exit status 0");
	const int verdict = console.empty() ? -1 : console.back() - '0';
	require(verdict == 0 || verdict == 1, "verdict digit");
	const std::string line = console.substr(0, console.size() - 1);
	require(line == "travado\r\n" || line == "deu certo\r\n" ||
			line == "n\xE3o s\xE3o iguais \r\n",
		"one message line");
	const oracle_request want = oracle_read(data, size);
	require((verdict == 1) == same_pair(want.first, want.second), "verdict 1 only for a pair");
	require(contents_of("conector.txt") == expected_reply(want.first, want.second, verdict),
		"five-line reply record");
	return 0;
}
