// The game model as a WebAssembly module, for a page that plays with no
// server: one game in the module's memory, its rules and its computer
// opponent as the server has them. The page asks memoria.wasm for every
// verdict and hands it to count; nothing here judges a move.
#include <cstdint>

#include "game.h"
#include "opponent.h"

#define EXPORT(name) extern "C" __attribute__((export_name(#name)))

namespace {

// The one game of the module's instance; a new instance is a new game.
struct table {
	game play;
	std::uint64_t seed = 0;
	std::string refusal; // the last one asked for, read by the page
};

table &here()
{
	static table t;
	return t;
}

bool is_place(int place)
{
	return place >= 0 && place < card_count;
}

bool is_player(int player)
{
	return player >= 0 && player < static_cast<int>(here().play.players.size());
}

} // namespace

// A new game: the deal drawn from the seed, and no players yet.
EXPORT(start) void start(std::uint32_t seed_high, std::uint32_t seed_low)
{
	here().seed = (std::uint64_t{seed_high} << 32) | seed_low;
	here().play = game{};
	here().play.deal = deal_cards(here().seed);
	here().play.players.clear();
}

// Seats a player: a person (level 0) or the computer at a level (1 to 3).
EXPORT(add_player) int add_player(int level)
{
	if (here().play.players.size() >= max_players || level < 0 || level > 3)
		return 0;
	here().play.players.push_back({"", static_cast<computer_level>(level), 0});
	return 1;
}

// Why the card at a place cannot be turned next, as a C string; empty when
// it can.
EXPORT(refusal) const char *refusal(int place)
{
	here().refusal = flip_refusal(here().play, place);
	return here().refusal.c_str();
}

// Turns up the first card of a move, once refusal has allowed it.
EXPORT(turn_up) void turn_up(int place)
{
	if (here().play.pending < 0 && flip_refusal(here().play, place).empty())
		here().play.pending = place;
}

// Counts the move of the card face up and this one, with the judge's verdict.
EXPORT(count) void count(int second, int verdict)
{
	const int first = here().play.pending;
	if (first >= 0 && flip_refusal(here().play, second).empty())
		count_move(here().play, first, second, verdict);
}

// The board position at a place, which the judge is asked about.
EXPORT(position) int position(int place)
{
	return is_place(place) ? here().play.deal[static_cast<std::size_t>(place)] : -1;
}

EXPORT(value) int value(int place)
{
	return is_place(place) ? value_at(here().play, place) : 0;
}

EXPORT(found) int found(int place)
{
	return is_place(place) && here().play.found[static_cast<std::size_t>(place)] ? 1 : 0;
}

EXPORT(finished) int game_over()
{
	return finished(here().play) ? 1 : 0;
}

EXPORT(pending) int pending()
{
	return here().play.pending;
}

EXPORT(turn) int turn()
{
	return here().play.turn;
}

EXPORT(moves) int moves()
{
	return here().play.moves;
}

EXPORT(pairs_left) int pairs_left()
{
	return here().play.pairs_left;
}

EXPORT(players) int players()
{
	return static_cast<int>(here().play.players.size());
}

EXPORT(pairs) int pairs(int player)
{
	return is_player(player) ? here().play.players[static_cast<std::size_t>(player)].pairs : 0;
}

EXPORT(level) int level(int player)
{
	return is_player(player)
		       ? static_cast<int>(
				 here().play.players[static_cast<std::size_t>(player)].computer)
		       : 0;
}

// Whether the player holds the most pairs of a finished game.
EXPORT(winner) int winner(int player)
{
	if (!finished(here().play))
		return 0;
	for (const int leader : leaders(here().play)) {
		if (leader == player)
			return 1;
	}
	return 0;
}

// The card that the computer player at the turn turns next, from what it
// remembers of every face the table has seen, with the same lapses each
// time it is asked; -1 when the turn is a person's.
EXPORT(computer_choice) int computer_choice()
{
	const player &at_turn = here().play.players[static_cast<std::size_t>(here().play.turn)];
	if (finished(here().play) || at_turn.computer == computer_level::none)
		return -1;
	opponent o = make_opponent(at_turn.computer,
				   here().seed * 31 + static_cast<std::uint64_t>(here().play.turn));
	for (const played_move &m : here().play.log) {
		see_card(o, m.first, value_at(here().play, m.first));
		see_card(o, m.second, value_at(here().play, m.second));
	}
	if (here().play.pending < 0)
		return choose_first(o, here().play);
	see_card(o, here().play.pending, value_at(here().play, here().play.pending));
	return choose_second(o, here().play, here().play.pending);
}
