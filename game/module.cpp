// The game model as a WebAssembly module, for a page that plays with no
// server: one game in the module's memory, its rules and its computer
// opponent as the server has them. The page asks memoria.wasm for every
// verdict and hands it to count; nothing here judges a move.
#include <cstdint>

#include "game.h"
#include "opponent.h"

#define EXPORT(name) extern "C" __attribute__((export_name(#name)))

namespace {

game the_game;
std::uint64_t the_seed = 0;
std::string the_refusal;

bool is_place(int place)
{
	return place >= 0 && place < card_count;
}

bool is_player(int player)
{
	return player >= 0 && player < static_cast<int>(the_game.players.size());
}

} // namespace

// A new game: the deal drawn from the seed, and no players yet.
EXPORT(start) void start(std::uint32_t seed_high, std::uint32_t seed_low)
{
	the_seed = (std::uint64_t{seed_high} << 32) | seed_low;
	the_game = game{};
	the_game.deal = deal_cards(the_seed);
	the_game.players.clear();
}

// Seats a player: a person (level 0) or the computer at a level (1 to 3).
EXPORT(add_player) int add_player(int level)
{
	if (the_game.players.size() >= max_players || level < 0 || level > 3)
		return 0;
	the_game.players.push_back({"", static_cast<computer_level>(level), 0});
	return 1;
}

// Why the card at a place cannot be turned next, as a C string; empty when
// it can.
EXPORT(refusal) const char *refusal(int place)
{
	the_refusal = flip_refusal(the_game, place);
	return the_refusal.c_str();
}

// Turns up the first card of a move, once refusal has allowed it.
EXPORT(turn_up) void turn_up(int place)
{
	if (the_game.pending < 0 && flip_refusal(the_game, place).empty())
		the_game.pending = place;
}

// Counts the move of the card face up and this one, with the judge's verdict.
EXPORT(count) void count(int second, int verdict)
{
	const int first = the_game.pending;
	if (first >= 0 && flip_refusal(the_game, second).empty())
		count_move(the_game, first, second, verdict);
}

// The board position at a place, which the judge is asked about.
EXPORT(position) int position(int place)
{
	return is_place(place) ? the_game.deal[static_cast<std::size_t>(place)] : -1;
}

EXPORT(value) int value(int place)
{
	return is_place(place) ? value_at(the_game, place) : 0;
}

EXPORT(found) int found(int place)
{
	return is_place(place) && the_game.found[static_cast<std::size_t>(place)] ? 1 : 0;
}

EXPORT(finished) int game_over()
{
	return finished(the_game) ? 1 : 0;
}

EXPORT(pending) int pending()
{
	return the_game.pending;
}

EXPORT(turn) int turn()
{
	return the_game.turn;
}

EXPORT(moves) int moves()
{
	return the_game.moves;
}

EXPORT(pairs_left) int pairs_left()
{
	return the_game.pairs_left;
}

EXPORT(players) int players()
{
	return static_cast<int>(the_game.players.size());
}

EXPORT(pairs) int pairs(int player)
{
	return is_player(player) ? the_game.players[static_cast<std::size_t>(player)].pairs : 0;
}

EXPORT(level) int level(int player)
{
	return is_player(player)
		       ? static_cast<int>(
				 the_game.players[static_cast<std::size_t>(player)].computer)
		       : 0;
}

// Whether the player holds the most pairs of a finished game.
EXPORT(winner) int winner(int player)
{
	if (!finished(the_game))
		return 0;
	for (const int leader : leaders(the_game)) {
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
	const player &at_turn = the_game.players[static_cast<std::size_t>(the_game.turn)];
	if (finished(the_game) || at_turn.computer == computer_level::none)
		return -1;
	opponent o = make_opponent(at_turn.computer,
				   the_seed * 31 + static_cast<std::uint64_t>(the_game.turn));
	for (const played_move &m : the_game.log) {
		see_card(o, m.first, value_at(the_game, m.first));
		see_card(o, m.second, value_at(the_game, m.second));
	}
	if (the_game.pending < 0)
		return choose_first(o, the_game);
	see_card(o, the_game.pending, value_at(the_game, the_game.pending));
	return choose_second(o, the_game, the_game.pending);
}
