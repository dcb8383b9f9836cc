// Whole runs of the built memoria: the exact bytes on stdout and stderr, the
// reply record left in the connector file, and the exit status.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "hostile_console.h"
#include "subprocess.h"
#include "scratch.h"

namespace fs = std::filesystem;

namespace {

const fs::path memoria = MEMORIA_PROGRAM;

// Every test runs memoria in a fresh, empty working directory.
class Run : public testing::Test {
protected:
	void SetUp() override
	{
		ASSERT_FALSE(root.path().empty());
		work = root.path() / "work";
		scratch = root.path() / "scratch";
		fs::create_directory(work);
		fs::create_directory(scratch);
	}
	process_run run(const std::vector<std::string> &args = {}) const
	{
		process_plan plan;
		plan.program = memoria;
		plan.args = args;
		plan.dir = work;
		process_run got;
		failure why;
		EXPECT_TRUE(run_process(plan, got, why)) << why.reason;
		return got;
	}
	process_run judge(const std::string &request, const std::vector<std::string> &args = {})
	{
		put_bytes(connector(), request);
		return run(args);
	}
	process_run judge_with(const std::string &request, console_kind console)
	{
		put_bytes(connector(), request);
		return run_with_console(memoria, work, scratch, console);
	}
	fs::path connector() const { return work / "conector.txt"; }
	std::string reply() const { return bytes_of(connector()); }
	std::vector<std::string> files_left() const
	{
		std::vector<std::string> names;
		for (const fs::directory_entry &e : fs::directory_iterator(work))
			names.push_back(e.path().filename().string());
		return names;
	}

	scratch_folder root;
	fs::path work;
	fs::path scratch;
};

struct move_case {
	const char *what;
	std::string request;
	std::string console;
	std::string reply;
};

// One line on stderr, "memoria: WHAT: reason" in CR LF. The reason is the C
// library's own text, which differs from one library to another.
testing::AssertionResult is_failure_line(const std::string &err, const std::string &what)
{
	const std::string head = "memoria: " + what + ": ";
	if (err.size() > head.size() + 2 && err.compare(0, head.size(), head) == 0 &&
	    err.find("\r\n") == err.size() - 2 && err.find('\n') == err.size() - 1)
		return testing::AssertionSuccess();
	return testing::AssertionFailure() << "not one line of " << head << "...: " << err;
}

const std::string pair = "deu certo\r\n1";
const std::string no_pair = "n\xE3o s\xE3o iguais \r\n0";
const std::string locked = "travado\r\n0";

class Moves : public Run, public testing::WithParamInterface<move_case> {};

TEST_P(Moves, JudgeAndReply)
{
	const move_case &c = GetParam();
	const process_run got = judge(c.request);
	EXPECT_EQ(got.status, 0) << c.what;
	EXPECT_EQ(got.out, c.console) << c.what;
	EXPECT_EQ(got.err, "") << c.what;
	EXPECT_EQ(reply(), c.reply) << c.what;
	EXPECT_EQ(files_left(), std::vector<std::string>{"conector.txt"}) << c.what;
}

const move_case move_cases[] = {
	move_case{"pair", "2 3", pair, "2 3 \r\n2 3 \r\n1 \r\n1 \r\n0"},
	move_case{"first pair", "0 1", pair, "0 1 \r\n0 1 \r\n1 \r\n1 \r\n0"},
	move_case{"no pair", "0 2", no_pair, "0 2 \r\n0 2 \r\n0 \r\n0 \r\n0"},
	move_case{"same card", "4 4", locked, "4 4 \r\n4 4 \r\n0 \r\n0 \r\n0"},
	move_case{"two lines", "3\r\n5\r\n", no_pair, "3 5 \r\n3 5 \r\n0 \r\n0 \r\n0"},
	move_case{"octal and hex echoed in decimal", "010 0x3", no_pair,
		  "8 3 \r\n8 3 \r\n0 \r\n0 \r\n0"},
	move_case{"octal 012 is 10", "012 10", locked, "10 10 \r\n10 10 \r\n0 \r\n0 \r\n0"},
	move_case{"08 is 0 then 8", "08", no_pair, "0 8 \r\n0 8 \r\n0 \r\n0 \r\n0"},
	move_case{"trailing text is dropped", "14 15\r\n9 9\r\nmore\r\n", pair,
		  "14 15 \r\n14 15 \r\n1 \r\n1 \r\n0"},
	move_case{"reply record read again", "6 7 \r\n6 7 \r\n1 \r\n1 \r\n0", pair,
		  "6 7 \r\n6 7 \r\n1 \r\n1 \r\n0"},
	move_case{"locked by the caller", "-1 4", locked, "-1 4 \r\n-1 4 \r\n0 \r\n0 \r\n0"},
	// Hostile requests: each still gets a whole reply record.
	move_case{"empty", "", locked, "-1 -1 \r\n-1 -1 \r\n0 \r\n0 \r\n0"},
	move_case{"junk", "junk", locked, "-1 -1 \r\n-1 -1 \r\n0 \r\n0 \r\n0"},
	move_case{"one integer", "7", locked, "7 -1 \r\n7 -1 \r\n0 \r\n0 \r\n0"},
	move_case{"a sign alone", "-", locked, "-1 -1 \r\n-1 -1 \r\n0 \r\n0 \r\n0"},
	move_case{"too large", "99999999999 3", locked, "-1 3 \r\n-1 3 \r\n0 \r\n0 \r\n0"},
	move_case{"too large hex", "2 0x100000000", locked, "2 -1 \r\n2 -1 \r\n0 \r\n0 \r\n0"},
	move_case{"too small", "-2147483649 2", locked, "-1 2 \r\n-1 2 \r\n0 \r\n0 \r\n0"},
	move_case{"past the board", "16 3", locked, "16 3 \r\n16 3 \r\n0 \r\n0 \r\n0"},
	move_case{"3-5", "3-5", locked, "3 -5 \r\n3 -5 \r\n0 \r\n0 \r\n0"},
	move_case{"extremes", "2147483647 -2147483648", locked,
		  "2147483647 -2147483648 \r\n2147483647 -2147483648 \r\n0 \r\n0 \r\n0"},
	move_case{"binary bytes", std::string("\x01\x1a\xff\0 2 3", 8), locked,
		  "-1 -1 \r\n-1 -1 \r\n0 \r\n0 \r\n0"},
};
INSTANTIATE_TEST_SUITE_P(Requests, Moves, testing::ValuesIn(move_cases));

TEST_F(Run, PairGivesTheExactConsoleBytes)
{
	const process_run got = judge("2 3");
	EXPECT_EQ(got.out, std::string("\x64\x65\x75\x20\x63\x65\x72\x74\x6F\x0D\x0A\x31"));
	EXPECT_EQ(got.out.size(), 12u);
}

TEST_F(Run, ArgumentsChangeNothing)
{
	const process_run plain = judge("0 2");
	const std::string plain_reply = reply();
	const process_run with_args = judge("0 2", {"5", "5", "--help", "conector.txt"});
	EXPECT_EQ(with_args.status, plain.status);
	EXPECT_EQ(with_args.out, plain.out);
	EXPECT_EQ(with_args.err, plain.err);
	EXPECT_EQ(reply(), plain_reply);
}

TEST_F(Run, TwoRunsOnOneRequestAgree)
{
	const process_run first = judge("12 13");
	const std::string first_reply = reply();
	const process_run second = judge("12 13");
	EXPECT_EQ(second.out, first.out);
	EXPECT_EQ(second.status, first.status);
	EXPECT_EQ(reply(), first_reply);
	// A reply left in place judges the same move again.
	const process_run again = run();
	EXPECT_EQ(again.out, first.out);
	EXPECT_EQ(reply(), first_reply);
}

TEST_F(Run, MissingRequestIsReportedAndNotCreated)
{
	const process_run got = run();
	EXPECT_EQ(got.status, 1);
	EXPECT_EQ(got.out, "");
	EXPECT_TRUE(is_failure_line(got.err, "conector.txt"));
	EXPECT_TRUE(files_left().empty());
}

TEST_F(Run, UnreadableRequestIsLeftAlone)
{
	fs::create_directory(connector());
	const process_run got = run();
	EXPECT_EQ(got.status, 1);
	EXPECT_EQ(got.out, "");
	EXPECT_TRUE(is_failure_line(got.err, "conector.txt"));
	EXPECT_TRUE(fs::is_directory(connector()));
	EXPECT_TRUE(fs::is_empty(connector()));
}

TEST_F(Run, FailedReplyIsNotReportedAsSuccess)
{
#ifdef _WIN32
	GTEST_SKIP() << "Windows has no /dev/full to make a write fail";
#endif
#ifdef MEMORIA_UNDER_WASI
	GTEST_SKIP() << "WASI opens nothing outside the game's folder, so a link to /dev/full "
			"cannot stand in for a reply that fails";
#endif
	// /dev/full reads as endless NUL bytes, so the request holds no integer.
	fs::create_symlink("/dev/full", connector());
	const process_run got = run();
	EXPECT_EQ(got.status, 2);
	EXPECT_TRUE(is_failure_line(got.err, "conector.txt"));
	EXPECT_EQ(got.out, locked);
	EXPECT_TRUE(fs::is_symlink(connector()));
}

TEST_F(Run, FileSizeLimitIsALostReplyNotADeath)
{
	if (!hostile_consoles_supported)
		GTEST_SKIP() << "Windows has no file-size limit; a refused write is an error there";
	const process_run got = judge_with("8 9", console_kind::no_file_room);
	EXPECT_EQ(got.status, 2);
	EXPECT_TRUE(is_failure_line(got.err, "conector.txt"));
	EXPECT_EQ(got.out, pair);
	EXPECT_EQ(reply(), "");
	EXPECT_EQ(files_left(), std::vector<std::string>{"conector.txt"});
}

class LostConsole : public Run, public testing::WithParamInterface<console_kind> {};

TEST_P(LostConsole, ReplyIsStillWrittenInFull)
{
	if (!hostile_consoles_supported)
		GTEST_SKIP() << "Windows has no /dev/full, starts no program with stdout closed, "
				"and reports a broken pipe as a failed write already";
#ifdef MEMORIA_UNDER_WASI
	if (GetParam() == console_kind::closed)
		GTEST_SKIP() << "Node opens /dev/null on a standard stream left closed, before "
				"memoria.wasm starts";
#endif
	const process_run got = judge_with("8 9", GetParam());
	EXPECT_EQ(got.status, 3);
	EXPECT_TRUE(is_failure_line(got.err, "stdout"));
	EXPECT_EQ(reply(), "8 9 \r\n8 9 \r\n1 \r\n1 \r\n0");
	EXPECT_EQ(files_left(), std::vector<std::string>{"conector.txt"});
}

INSTANTIATE_TEST_SUITE_P(Console, LostConsole,
			 testing::Values(console_kind::full, console_kind::closed,
					 console_kind::broken_pipe));

} // namespace
