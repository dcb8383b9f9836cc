// The game that both front ends show: its rules as tables of cases, and the
// computer opponent's levels measured over whole games judged by memoria.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <thread>
#include <vector>

#include "exchange.h"
#include "game.h"
#include "opponent.h"
#include "scratch.h"

namespace {

// Places 2k and 2k + 1 hold a pair in the unshuffled deal.
struct turn_case {
	const char *what;
	std::vector<played_move> moves; // who moves is the game's to say: player is ignored
	std::vector<int> pairs;         // each player's, at the end
	std::vector<int> leaders;
	int turn;
};

class Turns : public testing::TestWithParam<turn_case> {};

TEST_P(Turns, PassOnAMissAndStayOnAPair)
{
	const turn_case &c = GetParam();
	game g;
	g.players.assign(c.pairs.size(), player{});
	for (const played_move &m : c.moves) {
		ASSERT_EQ(move_refusal(g, m.first, m.second), "") << c.what;
		count_move(g, m.first, m.second, m.verdict);
	}
	EXPECT_EQ(g.turn, c.turn) << c.what;
	std::vector<int> pairs;
	for (const player &p : g.players)
		pairs.push_back(p.pairs);
	EXPECT_EQ(pairs, c.pairs) << c.what;
	EXPECT_EQ(leaders(g), c.leaders) << c.what;
	EXPECT_EQ(g.moves, static_cast<int>(c.moves.size())) << c.what;
	EXPECT_EQ(g.log.size(), c.moves.size()) << c.what;
}

std::vector<played_move> all_pairs()
{
	std::vector<played_move> moves;
	moves.reserve(pair_count);
	for (int k = 0; k < pair_count; ++k)
		moves.push_back({0, 2 * k, 2 * k + 1, 1});
	return moves;
}

const turn_case turn_cases[] = {
	{"alone, a miss keeps the one player", {{0, 0, 2, 0}}, {0}, {0}, 0},
	{"a pair keeps the turn", {{0, 0, 1, 1}}, {1, 0}, {0}, 0},
	{"a miss passes it", {{0, 0, 2, 0}}, {0, 0}, {0, 1}, 1},
	{"round the table", {{0, 0, 2, 0}, {0, 0, 2, 0}, {0, 0, 2, 0}}, {0, 0, 0}, {0, 1, 2}, 0},
	{"the second player's pair is theirs",
	 {{0, 0, 2, 0}, {0, 2, 3, 1}, {0, 0, 4, 0}},
	 {0, 1},
	 {1},
	 0},
	{"one player finds them all", all_pairs(), {8, 0, 0, 0}, {0}, 0},
	{"a draw, four pairs each",
	 {{0, 0, 1, 1},
	  {0, 2, 3, 1},
	  {0, 4, 5, 1},
	  {0, 6, 7, 1},
	  {0, 8, 10, 0},
	  {0, 8, 9, 1},
	  {0, 10, 11, 1},
	  {0, 12, 13, 1},
	  {0, 14, 15, 1}},
	 {4, 4},
	 {0, 1},
	 1},
};
INSTANTIATE_TEST_SUITE_P(Rules, Turns, testing::ValuesIn(turn_cases));

TEST(Rules, RefusesWhatCannotBePlayed)
{
	game g;
	count_move(g, 6, 7, 1);
	const struct {
		int first, second;
		const char *refusal;
	} cases[] = {
		{0, 1, ""},
		{5, 5, "the same card twice"},
		{6, 1, "a card already found"},
		{1, 7, "a card already found"},
		{-1, 2, "no such card"},
		{2, 16, "no such card"},
	};
	for (const auto &c : cases)
		EXPECT_EQ(move_refusal(g, c.first, c.second), c.refusal)
			<< c.first << " " << c.second;
	// Card by card: the first alone, then the second beside it.
	EXPECT_EQ(flip_refusal(g, 6), "a card already found");
	EXPECT_EQ(flip_refusal(g, 5), "");
	g.pending = 5;
	EXPECT_EQ(flip_refusal(g, 5), "that card is already face up");
	EXPECT_EQ(flip_refusal(g, 7), "a card already found");
	EXPECT_EQ(flip_refusal(g, 16), "no such card");
	EXPECT_EQ(flip_refusal(g, 4), "");
	g.pending = -1;
	for (int k = 0; k < pair_count; ++k)
		count_move(g, 2 * k, 2 * k + 1, k == 3 ? 0 : 1);
	EXPECT_TRUE(finished(g));
	EXPECT_EQ(card_refusal(g, 0), "the game is over");
}

// Whole games played alone by one level, every move judged by memoria.
struct level_figures {
	double mean = 0;
	double standard_error = 0;
	int missed_known_pairs = 0;
};

// Whether the table has seen the cards of a pair still in play: then a
// player who forgets nothing finds it.
bool pair_known(const game &g, const std::vector<bool> &seen, int first)
{
	for (int a = 0; a < card_count; ++a) {
		for (int b = a + 1; b < card_count; ++b) {
			const bool in_play = !g.found[static_cast<std::size_t>(a)] &&
					     !g.found[static_cast<std::size_t>(b)];
			const bool both_seen = seen[static_cast<std::size_t>(a)] &&
					       seen[static_cast<std::size_t>(b)];
			const bool joins_first = first >= 0 && (a == first || b == first) &&
						 seen[static_cast<std::size_t>(a == first ? b : a)];
			if (in_play && value_at(g, a) == value_at(g, b) &&
			    (both_seen || joins_first))
				return true;
		}
	}
	return false;
}

level_figures measure(computer_level level, int games, const std::filesystem::path &dir)
{
	judge_setup judge;
	judge.program = MEMORIA_PROGRAM;
	std::vector<int> moves;
	level_figures f;
	for (int n = 0; n < games; ++n) {
		game g;
		g.deal = deal_cards(static_cast<std::uint64_t>(n));
		opponent o = make_opponent(level, 1000003u * static_cast<std::uint64_t>(n) + 7);
		std::vector<bool> seen(card_count, false);
		while (!finished(g) && g.moves < 500) {
			const bool known_before = pair_known(g, seen, -1);
			const int first = choose_first(o, g);
			see_card(o, first, value_at(g, first));
			const bool known = known_before || pair_known(g, seen, first);
			const int second = choose_second(o, g, first);
			see_card(o, second, value_at(g, second));
			seen[static_cast<std::size_t>(first)] =
				seen[static_cast<std::size_t>(second)] = true;
			judgement judged;
			failure why;
			EXPECT_TRUE(ask_memoria(judge, dir, g.deal[static_cast<std::size_t>(first)],
						g.deal[static_cast<std::size_t>(second)], judged,
						why))
				<< why.reason;
			f.missed_known_pairs += known && judged.verdict != 1;
			count_move(g, first, second, judged.verdict);
		}
		EXPECT_TRUE(finished(g));
		moves.push_back(g.moves);
	}
	double sum = 0;
	for (const int m : moves)
		sum += m;
	f.mean = sum / games;
	double squares = 0;
	for (const int m : moves)
		squares += (m - f.mean) * (m - f.mean);
	f.standard_error = std::sqrt(squares / (games - 1)) / std::sqrt(games);
	return f;
}

TEST(Opponent, EachLevelRemembersMoreThanTheOneBelow)
{
#ifdef _WIN32
	GTEST_SKIP() << "900 whole games start the judge some 19000 times, which under Wine takes "
			"far longer than a test may: the levels are measured where it is cheap";
#endif
	const int games = 300;
	// The levels play side by side, each in a folder of its own: every move
	// is still judged by memoria, which sanitizers make slow to start.
	scratch_folder dirs[3];
	level_figures easy;
	level_figures medium;
	level_figures hard;
	std::thread playing[] = {
		std::thread([&] { easy = measure(computer_level::easy, games, dirs[0].path()); }),
		std::thread(
			[&] { medium = measure(computer_level::medium, games, dirs[1].path()); }),
		std::thread([&] { hard = measure(computer_level::hard, games, dirs[2].path()); })};
	for (std::thread &t : playing)
		t.join();
	std::printf("moves to finish alone, over %d games: easy %.2f (se %.2f), medium %.2f (se "
		    "%.2f), hard %.2f (se %.2f)\n",
		    games, easy.mean, easy.standard_error, medium.mean, medium.standard_error,
		    hard.mean, hard.standard_error);
	EXPECT_EQ(hard.missed_known_pairs, 0);
	EXPECT_GT(medium.missed_known_pairs, 0);
	EXPECT_GE(easy.mean - medium.mean, 2);
	EXPECT_GE(medium.mean - hard.mean, 2);
	// No level can do better than a game's eight pairs.
	EXPECT_GE(hard.mean, pair_count);
}

TEST(Opponent, NeverTurnsAFoundCardOrTheSameTwice)
{
	game g;
	opponent o = make_opponent(computer_level::easy, 3);
	for (int k = 0; k < pair_count - 1; ++k)
		count_move(g, 2 * k, 2 * k + 1, 1);
	for (int n = 0; n < 50; ++n) {
		const int first = choose_first(o, g);
		see_card(o, first, value_at(g, first));
		const int second = choose_second(o, g, first);
		EXPECT_EQ(move_refusal(g, first, second), "");
	}
}

} // namespace
