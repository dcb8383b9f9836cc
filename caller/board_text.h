// The sample caller's side of a game: the places the player sees, where the
// deal put each card, which cards are found, and the checks it makes before
// it asks memoria to judge a move.
#ifndef MEMORIA_CALLER_GAME_H
#define MEMORIA_CALLER_GAME_H

#include <array>
#include <string>

#include "deal.h"
#include "failure.h"

struct game {
	card_deal deal = unshuffled_deal();
	std::array<bool, card_count> found{};
	int pairs_found = 0;
	int moves = 0;
};

// The value on the card at a place, by the game's deal.
int value_at(const game &g, int place);

// Reads a move typed by the player: two places 0 to 15, of two different
// cards not yet found. Sets the places when the entry is good, or else gives
// a short reason to show before asking again.
bool check_entry(const game &g, const std::string &line, int &first, int &second, failure &refusal);

// The board as a 4 by 4 grid, one row a line: a card face down shows its
// place in brackets, a found card its value, and the two cards of the
// current move (if any, else -1) their values in parentheses.
std::string draw_board(const game &g, int up_first, int up_second);

#endif
