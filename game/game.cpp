#include "game.h"

#include <algorithm>

int value_at(const game &g, int place)
{
	return card_value(g.deal[static_cast<std::size_t>(place)]);
}

bool finished(const game &g)
{
	return g.pairs_left == 0;
}

std::string card_refusal(const game &g, int place)
{
	if (place < 0 || place >= card_count)
		return "no such card";
	if (finished(g))
		return "the game is over";
	if (g.found[static_cast<std::size_t>(place)])
		return "a card already found";
	return "";
}

std::string move_refusal(const game &g, int first, int second)
{
	if (first == second)
		return "the same card twice";
	const std::string refusal = card_refusal(g, first);
	return refusal.empty() ? card_refusal(g, second) : refusal;
}

std::string flip_refusal(const game &g, int place)
{
	if (g.pending < 0)
		return card_refusal(g, place);
	if (place == g.pending)
		return "that card is already face up";
	return move_refusal(g, g.pending, place);
}

void count_move(game &g, int first, int second, int verdict)
{
	g.log.push_back({g.turn, first, second, verdict});
	++g.moves;
	g.pending = -1;
	if (verdict == 1) {
		g.found[static_cast<std::size_t>(first)] = true;
		g.found[static_cast<std::size_t>(second)] = true;
		--g.pairs_left;
		++g.players[static_cast<std::size_t>(g.turn)].pairs;
	} else if (!g.players.empty()) {
		g.turn = (g.turn + 1) % static_cast<int>(g.players.size());
	}
}

std::vector<int> leaders(const game &g)
{
	int most = 0;
	for (const player &p : g.players)
		most = std::max(most, p.pairs);
	std::vector<int> best;
	for (std::size_t i = 0; i < g.players.size(); ++i) {
		if (g.players[i].pairs == most)
			best.push_back(static_cast<int>(i));
	}
	return best;
}

namespace {

const char *const level_names[] = {"", "easy", "medium", "hard"};

} // namespace

computer_level level_named(const std::string &name)
{
	for (int i = 1; i < 4; ++i) {
		if (name == level_names[i])
			return static_cast<computer_level>(i);
	}
	return computer_level::none;
}

const char *level_name(computer_level level)
{
	return level_names[static_cast<int>(level)];
}
