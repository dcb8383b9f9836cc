// The computer opponent: it chooses its cards from what it remembers of the
// faces shown at the table, as a person would, and never looks at the deal.
// Its moves go to the judge like anyone's.
#ifndef MEMORIA_GAME_OPPONENT_H
#define MEMORIA_GAME_OPPONENT_H

#include <cstdint>
#include <vector>

#include "game.h"

struct seen_card {
	int place;
	int value;
};

struct opponent {
	computer_level level = computer_level::hard;
	std::vector<seen_card> memory; // the oldest first
	std::uint64_t random = 1;      // the state of its own generator
};

opponent make_opponent(computer_level level, std::uint64_t seed);

// Every face shown at the table, in any player's move, goes through here.
void see_card(opponent &o, int place, int value);

// The first card of its move: one of a pair it remembers, else one it has
// not seen, else any card still in play.
int choose_first(opponent &o, const game &g);

// The second card, once the first has been turned and shown to it
// (see_card): the first's
// partner if it remembers where that is, else a card it has not seen.
int choose_second(opponent &o, const game &g, int first);

#endif
