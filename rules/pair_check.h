// Judging one selection of two board positions.
#ifndef MEMORIA_RULES_PAIR_CHECK_H
#define MEMORIA_RULES_PAIR_CHECK_H

#include <stdint.h>

#include "board.h"

// Verdicts.
inline constexpr int verdict_no_pair = 0;
inline constexpr int verdict_pair = 1;

// Judges the selection of the cards at first and second, writes one message line
// (Windows-1252 text ending in CR LF) to stdout and returns the verdict. A
// selection is locked, and the board left unread, when a position is -1 or off
// the board, or when both positions are the same.
int check_selection(const board_cells &board, int32_t first, int32_t second);

// Judges a selection that is not locked: a card already found, a pair, or no
// pair. Positions off the board are still treated as locked, so the board is
// never read outside its cells.
int compare_pair(const board_cells &board, int32_t first, int32_t second);

#endif
