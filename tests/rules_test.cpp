// The pair rules over the fixed board and over boards with found cards.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "board.h"
#include "capture.h"
#include "pair_check.h"

namespace {

const std::string locked = "travado\r\n";
const std::string found = "Algum desses valores j\xE1 foi achado\r\n";
const std::string pair = "deu certo\r\n";
const std::string no_pair = "n\xE3o s\xE3o iguais \r\n";

struct judged {
	int verdict;
	std::string console;
};

judged judge(const board_cells &board, std::int32_t first, std::int32_t second)
{
	judged result{-1, ""};
	result.console =
		capture_stdout([&] { result.verdict = check_selection(board, first, second); });
	return result;
}

board_cells with_found(std::initializer_list<std::size_t> positions)
{
	board_cells board = initial_board;
	for (std::size_t p : positions)
		board.cells[p] = found_marker;
	return board;
}

struct rule_case {
	const char *what;
	board_cells board;
	std::int32_t first;
	std::int32_t second;
	const std::string &message;
	int verdict;
};

class RuleTable : public testing::TestWithParam<rule_case> {};

TEST_P(RuleTable, GivesMessageAndVerdict)
{
	const rule_case &c = GetParam();
	const judged got = judge(c.board, c.first, c.second);
	EXPECT_EQ(got.console, c.message) << c.what;
	EXPECT_EQ(got.verdict, c.verdict) << c.what;
}

const board_cells all_found = with_found({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15});

const rule_case fixed_board_cases[] = {
	rule_case{"first pair", initial_board, 0, 1, pair, 1},
	rule_case{"order does not matter", initial_board, 1, 0, pair, 1},
	rule_case{"last pair", initial_board, 14, 15, pair, 1},
	rule_case{"values 1 and 2", initial_board, 1, 2, no_pair, 0},
	rule_case{"ends of the board", initial_board, 0, 15, no_pair, 0},
	rule_case{"neighbours of different pairs", initial_board, 3, 4, no_pair, 0},
	rule_case{"same position", initial_board, 5, 5, locked, 0},
	rule_case{"first locked", initial_board, -1, 3, locked, 0},
	rule_case{"second locked", initial_board, 3, -1, locked, 0},
	rule_case{"both locked", initial_board, -1, -1, locked, 0},
	rule_case{"one past the board", initial_board, 16, 3, locked, 0},
	rule_case{"negative second", initial_board, 3, -5, locked, 0},
	rule_case{"extremes", initial_board, INT32_MIN, INT32_MAX, locked, 0},
};
INSTANTIATE_TEST_SUITE_P(FixedBoard, RuleTable, testing::ValuesIn(fixed_board_cases));

const rule_case found_cards_cases[] = {
	rule_case{"first found", with_found({4}), 4, 5, found, 0},
	rule_case{"second found", with_found({4}), 5, 4, found, 0},
	rule_case{"locked before found", with_found({4}), 4, 4, locked, 0},
	rule_case{"found before equal", with_found({6, 9}), 6, 9, found, 0},
	rule_case{"found card of a pair", with_found({15}), 14, 15, found, 0},
	rule_case{"pair beside a found one", with_found({0, 1}), 2, 3, pair, 1},
	rule_case{"locked board never read", all_found, 7, 7, locked, 0},
	rule_case{"off board never read", all_found, 3, 16, locked, 0},
};
INSTANTIATE_TEST_SUITE_P(FoundCards, RuleTable, testing::ValuesIn(found_cards_cases));

// Over a range wider than the board: a pair exactly when both positions are
// on the board, differ and lie in the same pair; one line every time.
TEST(Rules, FixedBoardMatchesExactlyTheNeighbourPairs)
{
	for (std::int32_t first = -3; first <= 18; ++first) {
		for (std::int32_t second = -3; second <= 18; ++second) {
			const judged got = judge(initial_board, first, second);
			const bool on = first >= 0 && first < 16 && second >= 0 && second < 16;
			const bool same_pair = on && first != second && first / 2 == second / 2;
			EXPECT_EQ(got.verdict, same_pair ? 1 : 0) << first << ' ' << second;
			EXPECT_EQ(got.console, !on || first == second ? locked
					       : same_pair            ? pair
								      : no_pair)
				<< first << ' ' << second;
		}
	}
}

TEST(Rules, ComparePairNeverReadsOffTheBoard)
{
	int verdict = -1;
	const std::string out =
		capture_stdout([&] { verdict = compare_pair(initial_board, 15, 16); });
	EXPECT_EQ(out, locked);
	EXPECT_EQ(verdict, 0);
}

} // namespace
