// The one way the front ends start a program: the folder it starts in, its
// deadline and its output cap, and what it inherits.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "subprocess.h"

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

// Started anywhere else, the judge would read another game's connector file.
TEST(Process, NeverStartsOutsideTheFolderAsked)
{
	process_plan plan;
	plan.program = JOGAR_PROGRAM;
	plan.dir = "no-such-folder";
	process_run run;
	failure why;
	EXPECT_FALSE(run_process(plan, run, why));
	EXPECT_EQ(run.status, -1);
	EXPECT_NE(why.reason.find("no-such-folder"), std::string::npos) << why.reason;
}

#ifndef _WIN32
process_run shell(const std::string &script, process_plan plan = {})
{
	plan.program = "/bin/sh";
	plan.args = {"-c", script};
	plan.dir = ".";
	process_run run;
	failure why;
	EXPECT_TRUE(run_process(plan, run, why)) << why.reason;
	return run;
}

// A child of the program holds its pipes too: only killing the whole group
// ends the wait.
TEST(Process, KillsTheWholeGroupAtTheDeadline)
{
	process_plan plan;
	plan.deadline = std::chrono::milliseconds(200);
	const auto started = std::chrono::steady_clock::now();
	const process_run run = shell("sleep 30; echo never", plan);
	EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
	EXPECT_TRUE(run.timed_out);
	EXPECT_EQ(run.status, 128 + 9);
	EXPECT_EQ(run.out, "");
}

TEST(Process, KeepsNoMoreThanTheCap)
{
	process_plan plan;
	plan.output_cap = 4096;
	const process_run run = shell("yes", plan);
	EXPECT_TRUE(run.overflowed);
	EXPECT_EQ(run.out.size(), 4096u);
	EXPECT_EQ(run.status, 128 + 9);
	const process_run quiet = shell("echo ok; echo oops >&2", plan);
	EXPECT_FALSE(quiet.overflowed || quiet.timed_out);
	EXPECT_EQ(quiet.out, "ok\n");
	EXPECT_EQ(quiet.err, "oops\n");
	EXPECT_EQ(quiet.status, 0);
}

// A server's sockets and files are not the judge's business.
TEST(Process, PassesOnOnlyStdinStdoutAndStderr)
{
	const int inheritable = open("/dev/null", O_RDONLY);
	EXPECT_GE(inheritable, 3);
	const std::string fd = "/proc/self/fd/" + std::to_string(inheritable);
	const process_run run =
		shell("if test -e " + fd + "; then echo open; else echo closed; fi");
	EXPECT_EQ(close(inheritable), 0);
	EXPECT_EQ(run.out, "closed\n");
}
#endif

} // namespace
