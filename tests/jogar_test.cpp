// The sample caller: its checks of the player's entries and of memoria's
// replies, and whole games played from a script against the built memoria.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#ifndef _WIN32
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#endif

#include "exchange.h"
#include "board_text.h"
#include "subprocess.h"
#include "scratch.h"
#include "text.h"

namespace fs = std::filesystem;

namespace {

struct entry_case {
	const char *line;
	const char *refusal; // empty when the entry is good
};

class EntryTable : public testing::TestWithParam<entry_case> {};

TEST_P(EntryTable, RefusesWhatCannotBeSent)
{
	game g;
	g.found[6] = g.found[7] = true;
	int first = -1;
	int second = -1;
	failure refusal;
	EXPECT_EQ(check_entry(g, GetParam().line, first, second, refusal),
		  *GetParam().refusal == '\0');
	EXPECT_EQ(refusal.reason, GetParam().refusal) << GetParam().line;
	if (refusal.reason.empty()) {
		EXPECT_GE(first, 0);
		EXPECT_NE(first, second);
	} else {
		EXPECT_EQ(first, -1);
	}
}

const char malformed[] = "type two places, for example: A1 B2 (or 0 5)";
const entry_case entry_cases[] = {
	{"0 1", ""},
	{"  15\t14 \r", ""},
	{"A1 d4", ""},
	{"b2 3", ""},
	{"a1b2", ""},
	{"E1 A2", malformed},
	{"A5 A2", malformed},
	{"A 1 A2", malformed},
	{"", malformed},
	{"hello", malformed},
	{"3", malformed},
	{"1 2 3", malformed},
	{"-1 2", malformed},
	{"0x3 2", malformed},
	{"99999999999 1", malformed},
	{"16 1", "places run from A1 to D4 (or 0 to 15)"},
	{"B3 B4", "a card already found"},
	{"5 5", "the same card twice"},
	{"6 1", "a card already found"},
	{"1 7", "a card already found"},
};
INSTANTIATE_TEST_SUITE_P(Entries, EntryTable, testing::ValuesIn(entry_cases));

TEST(Caller, ReadsOnlyAReplyThatEchoesTheMove)
{
	EXPECT_EQ(verdict_of_reply("2 3 \r\n2 3 \r\n1 \r\n1 \r\n0", 2, 3), 1);
	EXPECT_EQ(verdict_of_reply("0 2 \r\n0 2 \r\n0 \r\n0 \r\n0", 0, 2), 0);
	const char *const bad[] = {
		"3 2 \r\n3 2 \r\n1 \r\n1 \r\n0", // another move
		"2 3 \r\n2 3 \r\n1 \r\n0 \r\n0", // verdicts disagree
		"2 3 \n2 3 \n1 \n1 \n0",         // LF line breaks
		"2 3 \r\n2 3 \r\n1 \r\n1 \r\n",  // no final 0
		"2 3 \r\n2 3 \r\n1 \r\n1 \r\n0\r\n",
		"2 3\r\n", // the request, unanswered
		"",
	};
	for (const char *reply : bad)
		EXPECT_EQ(verdict_of_reply(reply, 2, 3), -1) << reply;
}

TEST(Caller, DealsEveryCardOnceTheSameForASeed)
{
	const card_deal deal = deal_cards(7);
	std::array<int, card_count> seen{};
	for (const int position : deal)
		++seen[static_cast<std::size_t>(position)];
	std::array<int, card_count> once{};
	once.fill(1);
	EXPECT_EQ(seen, once);
	EXPECT_EQ(deal_cards(7), deal);
	// Pinned, so that a seed deals alike on every platform and in every release.
	EXPECT_EQ(deal, (card_deal{14, 6, 4, 2, 5, 11, 13, 1, 3, 12, 15, 10, 8, 0, 9, 7}));
	int moved = 0;
	for (std::uint64_t seed = 0; seed < 64; ++seed)
		moved += deal_cards(seed) != deal_cards(seed + 1);
	EXPECT_EQ(moved, 64);
}

TEST(Caller, ShowsTheJudgesMessagesInUtf8)
{
	EXPECT_EQ(utf8_from_cp1252("n\xE3o s\xE3o iguais "), "n\xC3\xA3o s\xC3\xA3o iguais ");
	EXPECT_EQ(utf8_from_cp1252("Algum desses valores j\xE1 foi achado"),
		  "Algum desses valores j\xC3\xA1 foi achado");
	EXPECT_EQ(utf8_from_cp1252("\x80\x81\x9F\xFF"), "\xE2\x82\xAC\xEF\xBF\xBD\xC5\xB8\xC3\xBF");
}

TEST(Caller, DrawsTheBoardInPlaceByPlaceNames)
{
	game g;
	g.found[0] = g.found[1] = true;
	EXPECT_EQ(draw_table(g, {15, 2, false, false}),
		  "     1      1   (  2 ) [ A4 ]\n  [ B1 ] [ B2 ] [ B3 ] [ B4 ]\n"
		  "  [ C1 ] [ C2 ] [ C3 ] [ C4 ]\n  [ D1 ] [ D2 ] [ D3 ] (  8 )\n");
	// In colour a miss is red; without, the board has no escape at all.
	EXPECT_NE(draw_table(g, {15, 2, true, true}).find("\x1b[1;31m(  2 )\x1b[0m"),
		  std::string::npos);
	EXPECT_EQ(draw_table(g, {15, 2, true, false}).find('\x1b'), std::string::npos);
}

TEST(Caller, DrawsFacesDownUpAndFound)
{
	game g;
	EXPECT_EQ(draw_board(g, -1, -1), " [ 0] [ 1] [ 2] [ 3]\n [ 4] [ 5] [ 6] [ 7]\n"
					 " [ 8] [ 9] [10] [11]\n [12] [13] [14] [15]\n");
	g.found[0] = g.found[1] = true;
	EXPECT_EQ(draw_board(g, 15, 2), "   1    1  ( 2) [ 3]\n [ 4] [ 5] [ 6] [ 7]\n"
					" [ 8] [ 9] [10] [11]\n [12] [13] [14] ( 8)\n");
}

// Whole games: jogar run from a script in a folder of the test's.
class Game : public testing::Test {
protected:
	void SetUp() override { ASSERT_FALSE(root.path().empty()); }
	// Scripted games deal by a fixed seed; the script names places.
	static constexpr std::uint64_t seed = 20261209;
	process_run play(const std::string &script, std::vector<std::string> args = {})
	{
		process_plan plan;
		plan.program = JOGAR_PROGRAM;
		plan.dir = root.path();
		plan.input = root.path() / "script";
		plan.args = {"--dir", (root.path() / "game").string(), "--seed",
			     std::to_string(seed)};
		plan.args.insert(plan.args.end(), args.begin(), args.end());
		put_bytes(plan.input, script);
		process_run got;
		failure why;
		EXPECT_TRUE(run_process(plan, got, why)) << why.reason;
		return got;
	}
	// The place where the deal put the card of a board position.
	static int place_of(int position)
	{
		const card_deal deal = deal_cards(seed);
		for (int place = 0; place < card_count; ++place) {
			if (deal[static_cast<std::size_t>(place)] == position)
				return place;
		}
		return -1;
	}
	static std::string move(int first_position, int second_position)
	{
		return std::to_string(place_of(first_position)) + " " +
		       std::to_string(place_of(second_position)) + "\n";
	}
	static std::string all_pairs_from(int pair)
	{
		std::string moves;
		for (int p = pair; p < 8; ++p)
			moves += move(2 * p, 2 * p + 1);
		return moves;
	}
	static int count(const std::string &text, const std::string &part)
	{
		int n = 0;
		for (std::size_t at = text.find(part); at != std::string::npos;
		     at = text.find(part, at + 1))
			++n;
		return n;
	}
	scratch_folder root;
};

TEST_F(Game, FullGameFromAScript)
{
	const process_run got = play(move(0, 2) + all_pairs_from(0));
	EXPECT_EQ(got.status, 0) << got.err;
	EXPECT_EQ(got.err, "");
	game dealt;
	dealt.deal = deal_cards(seed);
	dealt.found.fill(true);
	const std::string ending = draw_board(dealt, -1, -1) + "All 8 pairs found in 9 moves.\n";
	ASSERT_GE(got.out.size(), ending.size());
	EXPECT_EQ(got.out.substr(got.out.size() - ending.size()), ending);
	EXPECT_EQ(count(got.out, "memoria: deu certo\n"), 8);
	EXPECT_EQ(count(got.out, "memoria: n\xC3\xA3o s\xC3\xA3o iguais \n"), 1);
	// The judge saw board positions, not the places the player typed.
	EXPECT_EQ(bytes_of(root.path() / "game" / "conector.txt"),
		  "14 15 \r\n14 15 \r\n1 \r\n1 \r\n0");
}

TEST_F(Game, RefusedEntriesAreNeverSent)
{
	const std::string pair0 = move(0, 1);
	const std::string again =
		std::to_string(place_of(1)) + " " + std::to_string(place_of(2)) + "\n";
	const std::string reversed =
		std::to_string(place_of(2)) + " " + std::to_string(place_of(0)) + "\n";
	const process_run got =
		play("hello\n0 16\n5 5\n" + pair0 + again + reversed + all_pairs_from(1));
	EXPECT_EQ(got.status, 0) << got.err;
	EXPECT_EQ(count(got.out, "refused: "), 5);
	EXPECT_NE(got.out.find("All 8 pairs found in 8 moves.\n"), std::string::npos);
}

TEST_F(Game, InputEndingEarlyEndsTheGame)
{
	const process_run got = play(move(0, 1) + move(2, 3));
	EXPECT_EQ(got.status, 2);
	EXPECT_EQ(got.err, "jogar: input ended before the game did\n");
}

TEST_F(Game, MissingJudgeIsReported)
{
	const process_run got =
		play("0 1\n", {"--memoria", (root.path() / "no-such-program").string()});
	EXPECT_EQ(got.status, 1);
	EXPECT_NE(got.err.find("jogar: cannot start "), std::string::npos) << got.err;
}

TEST_F(Game, FailingOrSilentJudgeIsReported)
{
#ifdef _WIN32
	GTEST_SKIP() << "Windows has no /bin/false or /bin/true to stand in for memoria";
#endif
	const process_run failing = play("0 1\n", {"--memoria", "/bin/false"});
	EXPECT_EQ(failing.status, 1);
	EXPECT_EQ(failing.err, "jogar: memoria failed with exit status 1\n");
	// A judge that leaves the request in place gives no reply record.
	const process_run silent = play(move(0, 1), {"--memoria", "/bin/true"});
	EXPECT_EQ(silent.status, 1);
	EXPECT_EQ(silent.err, "jogar: memoria gave a malformed reply to the move 0 1\n");
}

TEST_F(Game, AnswersHelpAndVersionAndRefusesTheUnknown)
{
	const process_run help = play("", {"--help"});
	EXPECT_EQ(help.status, 0);
	EXPECT_EQ(help.out.rfind("usage: jogar ", 0), 0u) << help.out;
	const process_run version = play("", {"--version"});
	EXPECT_EQ(version.status, 0);
	EXPECT_EQ(version.out, "jogar " MEMORIA_VERSION "\n");
	const std::vector<std::vector<std::string>> refused = {
		{"--colour"},
		{"--players", "5"},
		{"--players", "0"},
		{"--players", "4", "--computer", "easy"},
		{"--computer", "genius"},
		{"--names", "Ana,Bia"},
		{"--players", "2", "--names", "Ana,"},
	};
	for (const std::vector<std::string> &args : refused) {
		const process_run unknown = play("", args);
		EXPECT_EQ(unknown.status, 2) << args[0];
		EXPECT_EQ(unknown.out, "");
		EXPECT_EQ(unknown.err.rfind("usage: jogar ", 0), 0u) << unknown.err;
	}
}

TEST_F(Game, TwoPlayersTakeTurnsAndTheEndNamesTheWinner)
{
	// Ana misses, Bia finds two pairs and misses, Ana finds the other six.
	const std::string script =
		move(0, 2) + move(0, 1) + move(2, 3) + move(4, 6) + all_pairs_from(2);
	const process_run got = play(script, {"--players", "2", "--names", "Ana,Bia"});
	EXPECT_EQ(got.status, 0) << got.err;
	EXPECT_EQ(count(got.out, "Ana, move "), 7);
	EXPECT_EQ(count(got.out, "Bia, move "), 3);
	EXPECT_NE(got.out.find("pairs: Ana 0, Bia 2\n"), std::string::npos);
	EXPECT_NE(got.out.find("All 8 pairs found in 10 moves.\nAna wins with 6 pairs.\n"),
		  std::string::npos)
		<< got.out;
}

TEST_F(Game, TheComputerPlaysItsTurns)
{
	// The person tries every two places in turn; refused ones are skipped.
	std::string script;
	for (int a = 0; a < card_count; ++a) {
		for (int b = a + 1; b < card_count; ++b)
			script += std::to_string(a) + " " + std::to_string(b) + "\n";
	}
	const process_run got = play(script, {"--computer", "hard"});
	EXPECT_EQ(got.status, 0) << got.err;
	EXPECT_NE(got.out.find("computer, move "), std::string::npos);
	EXPECT_TRUE(got.out.find(" wins with ") != std::string::npos ||
		    got.out.find("A draw: ") != std::string::npos)
		<< got.out;
}

#ifndef _WIN32
// jogar on a terminal of its own, a pseudo-terminal, typed at as a player
// would: each step waits for a text on the screen, then types.
struct typed_step {
	std::string wait_for;
	std::string type;
};

struct terminal_run {
	std::string screen; // everything written to the terminal
	int status = -1;    // exit status, or 128 + the signal
};

// Reads what jogar wrote until `until` appears past `from` (or, when empty,
// until jogar closes the terminal), for at most ten seconds.
bool read_until(int master, std::string &screen, std::size_t &from, const std::string &until)
{
	const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
	while (std::chrono::steady_clock::now() < deadline) {
		const std::size_t at = until.empty() ? std::string::npos : screen.find(until, from);
		if (at != std::string::npos) {
			from = at + until.size();
			return true;
		}
		pollfd ready{master, POLLIN, 0};
		if (poll(&ready, 1, 100) <= 0)
			continue;
		char bytes[4096];
		const ssize_t got = read(master, bytes, sizeof bytes);
		if (got <= 0)
			return until.empty();
		screen.append(bytes, static_cast<std::size_t>(got));
	}
	return false;
}

terminal_run play_on_terminal(const fs::path &temp, std::vector<std::string> args, bool colour,
			      const std::vector<typed_step> &steps)
{
	args.insert(args.begin(), JOGAR_PROGRAM);
	std::vector<char *> argv;
	argv.reserve(args.size() + 1);
	for (std::string &arg : args)
		argv.push_back(arg.data());
	argv.push_back(nullptr);
	int master = -1;
	const pid_t child = forkpty(&master, nullptr, nullptr, nullptr);
	if (child == 0) {
		setenv("TMPDIR", temp.c_str(), 1);
		setenv("TERM", "xterm", 1);
		if (colour)
			unsetenv("NO_COLOR");
		else
			setenv("NO_COLOR", "1", 1);
		execv(argv[0], argv.data());
		_exit(127);
	}
	terminal_run run;
	EXPECT_GT(child, 0);
	if (child <= 0)
		return run;
	std::size_t from = 0;
	for (const typed_step &step : steps) {
		if (!read_until(master, run.screen, from, step.wait_for)) {
			ADD_FAILURE() << "no \"" << step.wait_for << "\" on the screen:\n"
				      << run.screen;
			kill(child, SIGKILL);
			break;
		}
		EXPECT_EQ(write(master, step.type.data(), step.type.size()),
			  static_cast<ssize_t>(step.type.size()));
	}
	EXPECT_TRUE(read_until(master, run.screen, from, ""));
	close(master);
	int status = 0;
	waitpid(child, &status, 0);
	run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
	return run;
}

class OnATerminal : public Game {
protected:
	static std::string typed(int first_position, int second_position)
	{
		return place_name(place_of(first_position)) + " " +
		       place_name(place_of(second_position)) + "\r";
	}
	bool nothing_left() const { return fs::is_empty(root.path()); }
};

TEST_F(OnATerminal, DrawsInPlaceHidesAMissOnEnterAndOffersAnotherGame)
{
	std::vector<typed_step> steps = {{"move 1: ", typed(0, 2)},
					 {"Press Enter to go on. ", "\r"}};
	for (int pair = 0; pair < 8; ++pair)
		steps.push_back(
			{"move " + std::to_string(pair + 2) + ": ", typed(2 * pair, 2 * pair + 1)});
	steps.push_back({"Play again? [y/N] ", "y\r"});
	steps.push_back({"move 1: ", "\x04"}); // the next game, left at once
	const terminal_run got =
		play_on_terminal(root.path(), {"--seed", std::to_string(seed)}, true, steps);
	EXPECT_EQ(got.status, 2) << got.screen;
	EXPECT_NE(got.screen.find("\x1b[H\x1b[2J"), std::string::npos);
	EXPECT_NE(got.screen.find(
			  "\xE2\x80\x9Cn\xC3\xA3o s\xC3\xA3o iguais\xE2\x80\x9D: not a pair."),
		  std::string::npos);
	EXPECT_NE(got.screen.find("All 8 pairs found in 9 moves."), std::string::npos);
	// After Enter the missed cards are face down again, by their places.
	const std::size_t enter = got.screen.find("Press Enter to go on. ");
	const std::string next = got.screen.substr(enter, got.screen.find("move 2: ") - enter);
	EXPECT_NE(next.find("[ " + place_name(place_of(0)) + " ]"), std::string::npos) << next;
	EXPECT_NE(got.screen.find("\x1b[1;31m"), std::string::npos) << "a miss in red";
	EXPECT_TRUE(nothing_left());
}

TEST_F(OnATerminal, CtrlCRemovesTheScratchFolderAndNoColourMeansNone)
{
	const terminal_run got =
		play_on_terminal(root.path(), {"--seed", std::to_string(seed)}, false,
				 {{"move 1: ", typed(0, 2)}, {"Press Enter to go on. ", "\x03"}});
	EXPECT_EQ(got.status, 130) << got.screen;
	EXPECT_TRUE(nothing_left());
	EXPECT_EQ(got.screen.find("\x1b[1;"), std::string::npos);
	EXPECT_EQ(got.screen.find("\x1b[2m"), std::string::npos);
}
#endif

} // namespace
