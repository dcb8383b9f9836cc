// The game as jogar's text: a move as the player types it, and the board.
#ifndef MEMORIA_CALLER_BOARD_TEXT_H
#define MEMORIA_CALLER_BOARD_TEXT_H

#include <string>

#include "failure.h"
#include "game.h"

// Reads a move typed by the player: two places 0 to 15 that the game allows. Sets the places when
// the entry is good, or else gives a short reason to show before asking again.
bool check_entry(const game &g, const std::string &line, int &first, int &second, failure &refusal);

// The board as a 4 by 4 grid, one row a line: a card face down shows its
// place in brackets, a found card its value, and the two cards of the
// current move (if any, else -1) their values in parentheses.
std::string draw_board(const game &g, int up_first, int up_second);

#endif
