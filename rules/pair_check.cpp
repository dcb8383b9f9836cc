#include "pair_check.h"

#include <stddef.h>
#include <stdio.h>

namespace {

// Windows-1252 bytes: E1 is a-acute, E3 is a-tilde.
constexpr char message_locked[] = "travado";
constexpr char message_found[] = "Algum desses valores j\xE1 foi achado";
constexpr char message_pair[] = "deu certo";
constexpr char message_no_pair[] = "n\xE3o s\xE3o iguais ";

// Writes the message line and returns the verdict. The verdict never depends
// on the console: a failed write leaves the error flag on stdout, which the
// run looks at when it flushes.
int report(const char *message, int verdict)
{
	(void)fputs(message, stdout);
	(void)fputs("\r\n", stdout);
	return verdict;
}

bool on_board(int32_t position)
{
	return position >= 0 && static_cast<size_t>(position) < board_size;
}

int32_t card_at(const board_cells &board, int32_t position)
{
	return board.cells[static_cast<size_t>(position)];
}

// -1 is the caller's own way of locking a selection; it is off the board too.
bool is_locked(int32_t first, int32_t second)
{
	return !on_board(first) || !on_board(second) || first == second;
}

} // namespace

int check_selection(const board_cells &board, int32_t first, int32_t second)
{
	if (is_locked(first, second))
		return report(message_locked, verdict_no_pair);
	return compare_pair(board, first, second);
}

int compare_pair(const board_cells &board, int32_t first, int32_t second)
{
	// Not reached from check_selection; kept so that no caller can make it
	// read outside the board.
	if (!on_board(first) || !on_board(second))
		return report(message_locked, verdict_no_pair);
	const int32_t first_card = card_at(board, first);
	const int32_t second_card = card_at(board, second);
	if (first_card == found_marker || second_card == found_marker)
		return report(message_found, verdict_no_pair);
	if (first_card == second_card)
		return report(message_pair, verdict_pair);
	return report(message_no_pair, verdict_no_pair);
}
