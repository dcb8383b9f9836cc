// The game as jogar's text: a move as the player types it, and the board.
#ifndef MEMORIA_CALLER_BOARD_TEXT_H
#define MEMORIA_CALLER_BOARD_TEXT_H

#include <string>

#include "failure.h"
#include "game.h"

// Reads a move typed by the player: two places that the game allows, each
// A1 to D4 or a board position 0 to 15. Sets the places when the entry is
// good, or else gives a short reason to show before asking again.
bool check_entry(const game &g, const std::string &line, int &first, int &second, failure &refusal);

// The board as a 4 by 4 grid, one row a line: a card face down shows its
// place in brackets, a found card its value, and the two cards of the
// current move (if any, else -1) their values in parentheses.
std::string draw_board(const game &g, int up_first, int up_second);

// A place as the players name it: its row letter and column number, "B2".
std::string place_name(int place);

// What a board drawn in place shows beside the found cards: the two cards
// of a move (-1 for none), whether they missed, and whether in colour.
struct table_shown {
	int first = -1;
	int second = -1;
	bool missed = false;
	bool colour = false;
};

// The board as a terminal game draws it in place: a card face down shows
// its place ("[ B2 ]"), a card up its value ("(  5 )"), a found card its
// value alone; in colour, the two cards of a miss are red.
std::string draw_table(const game &g, const table_shown &shown);

#endif
