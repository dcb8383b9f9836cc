// One game of pair-matching, whoever shows it: the deal, the cards found,
// the players and their pairs, whose turn it is, the log of its moves and
// the winner. A player who finds a pair plays again; a miss passes the turn.
// The verdict of every move comes from the judge: the game only counts it.
#ifndef MEMORIA_GAME_GAME_H
#define MEMORIA_GAME_GAME_H

#include <array>
#include <string>
#include <vector>

#include "deal.h"

inline constexpr int max_players = 4;

// How a computer player remembers: the last two cards it saw; the last six,
// now and then forgetting one; every card.
enum class computer_level { none, easy, medium, hard };

struct player {
	std::string name;
	computer_level computer = computer_level::none; // none for a person
	int pairs = 0;
};

// A move as the log keeps it: who made it, the places, the judge's verdict.
struct played_move {
	int player = 0;
	int first = -1;
	int second = -1;
	int verdict = 0;
};

struct game {
	card_deal deal = unshuffled_deal();
	std::array<bool, card_count> found{};
	std::vector<player> players{player{}};
	int turn = 0;     // the player whose move it is
	int pending = -1; // the place turned as the first card of the move under way
	int moves = 0;
	int pairs_left = pair_count;
	std::vector<played_move> log; // where the front end keeps it
};

// The value on the card at a place, by the game's deal.
int value_at(const game &g, int place);

bool finished(const game &g);

// Why the card at a place cannot be turned now, or an empty string.
std::string card_refusal(const game &g, int place);

// Why a move of these places cannot be played now, or an empty string.
std::string move_refusal(const game &g, int first, int second);

// Why the card at a place cannot be turned next: as the first card of a
// move, or as the second beside the one face up; or an empty string.
std::string flip_refusal(const game &g, int place);

// Counts a move that the judge has ruled on (verdict 1 for a pair): the pair
// is found and the player plays again, or else the turn passes.
void count_move(game &g, int first, int second, int verdict);

// The players holding the most pairs: one is the winner, more share a draw.
std::vector<int> leaders(const game &g);

// A level by its name ("easy", "medium", "hard"), or none, and back.
computer_level level_named(const std::string &name);
const char *level_name(computer_level level);

#endif
