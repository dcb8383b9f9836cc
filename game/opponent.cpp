#include "opponent.h"

#include <algorithm>
#include <cstddef>

namespace {

// How many cards a level keeps in mind, and how often in a hundred sights it
// forgets one of them.
struct recall {
	std::size_t cards;
	unsigned forget_percent;
};

recall recall_of(computer_level level)
{
	switch (level) {
	case computer_level::easy:
		return {2, 0};
	case computer_level::medium:
		return {6, 20};
	default:
		return {card_count, 0};
	}
}

// splitmix64: the same choices for the same seed on every platform.
std::uint64_t next_random(opponent &o)
{
	std::uint64_t z = (o.random += 0x9E3779B97F4A7C15u);
	z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
	z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
	return z ^ (z >> 31);
}

std::size_t below(opponent &o, std::size_t n)
{
	return static_cast<std::size_t>(next_random(o) % n);
}

bool remembered(const opponent &o, int place)
{
	return std::any_of(o.memory.begin(), o.memory.end(),
			   [place](const seen_card &c) { return c.place == place; });
}

// A card still in play other than `except`, one not remembered if there is
// one, chosen at random.
int unknown_card(opponent &o, const game &g, int except)
{
	std::vector<int> fresh;
	std::vector<int> any;
	for (int p = 0; p < card_count; ++p) {
		if (p == except || g.found[static_cast<std::size_t>(p)])
			continue;
		any.push_back(p);
		if (!remembered(o, p))
			fresh.push_back(p);
	}
	const std::vector<int> &from = fresh.empty() ? any : fresh;
	return from.empty() ? -1 : from[below(o, from.size())];
}

// A remembered place still in play, other than `except`, holding value.
int remembered_with(const opponent &o, const game &g, int value, int except)
{
	for (const seen_card &c : o.memory) {
		if (c.value == value && c.place != except &&
		    !g.found[static_cast<std::size_t>(c.place)])
			return c.place;
	}
	return -1;
}

} // namespace

opponent make_opponent(computer_level level, std::uint64_t seed)
{
	opponent o;
	o.level = level;
	o.random = seed;
	return o;
}

void see_card(opponent &o, int place, int value)
{
	o.memory.erase(std::remove_if(o.memory.begin(), o.memory.end(),
				      [place](const seen_card &c) { return c.place == place; }),
		       o.memory.end());
	o.memory.push_back({place, value});
	const recall r = recall_of(o.level);
	if (o.memory.size() > r.cards)
		o.memory.erase(o.memory.begin());
	// A lapse: some card seen earlier slips from mind.
	if (o.memory.size() > 1 && below(o, 100) < r.forget_percent)
		o.memory.erase(o.memory.begin() +
			       static_cast<std::ptrdiff_t>(below(o, o.memory.size() - 1)));
}

int choose_first(opponent &o, const game &g)
{
	for (const seen_card &c : o.memory) {
		if (!g.found[static_cast<std::size_t>(c.place)] &&
		    remembered_with(o, g, c.value, c.place) >= 0)
			return c.place;
	}
	return unknown_card(o, g, -1);
}

int choose_second(opponent &o, const game &g, int first)
{
	// The first card's face, as it was shown when it was turned.
	int partner = -1;
	for (const seen_card &c : o.memory) {
		if (c.place == first)
			partner = remembered_with(o, g, c.value, first);
	}
	return partner >= 0 ? partner : unknown_card(o, g, first);
}
