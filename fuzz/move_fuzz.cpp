// A whole judged move on arbitrary request bytes: the console shows one of
// the four message lines and the verdict, the reply record has its five
// lines, and the verdict is 1 only for the two cards of one pair.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "run.h"
#include "property.h"
#include "scanf_oracle.h"

namespace {

std::string slurp(const char *name)
{
	std::ifstream in(name, std::ios::binary);
	return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
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
	return slurp("console.out");
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

char work_dir[] = "/tmp/memoria-fuzz-XXXXXX";

void remove_work_dir()
{
	(void)unlink("conector.txt");
	(void)unlink("console.out");
	(void)rmdir(work_dir);
}

} // namespace

// Every move runs in a scratch directory of its own, removed at exit. Give
// the corpus directories as absolute paths.
extern "C" int LLVMFuzzerInitialize(int * /*argc*/, char *** /*argv*/)
{
	require(mkdtemp(work_dir) != nullptr && chdir(work_dir) == 0, "working directory");
	require(std::atexit(remove_work_dir) == 0, "atexit");
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
	{
		std::ofstream request("conector.txt", std::ios::binary | std::ios::trunc);
		request.write(reinterpret_cast<const char *>(data),
			      static_cast<std::streamsize>(size));
		require(request.good(), "write the request");
	}
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
	require(slurp("conector.txt") == expected_reply(want.first, want.second, verdict),
		"five-line reply record");
	return 0;
}
