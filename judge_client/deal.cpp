#include "deal.h"

#include <random>
#include <utility>

int card_value(int position)
{
	return position / 2 + 1;
}

namespace {

// splitmix64: a small generator whose output is fixed by its seed alone.
std::uint64_t next_random(std::uint64_t &state)
{
	std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
	z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
	z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
	return z ^ (z >> 31);
}

// A value below bound with no bias: draws that fall in the last, partial
// run of bound values are drawn again.
int below(std::uint64_t &state, int bound)
{
	const auto b = static_cast<std::uint64_t>(bound);
	const std::uint64_t limit = UINT64_MAX - UINT64_MAX % b;
	std::uint64_t r = next_random(state);
	while (r >= limit)
		r = next_random(state);
	return static_cast<int>(r % b);
}

} // namespace

card_deal unshuffled_deal()
{
	card_deal deal{};
	for (int p = 0; p < card_count; ++p)
		deal[static_cast<std::size_t>(p)] = p;
	return deal;
}

card_deal deal_cards(std::uint64_t seed)
{
	card_deal deal = unshuffled_deal();
	for (int i = card_count - 1; i > 0; --i)
		std::swap(deal[static_cast<std::size_t>(i)],
			  deal[static_cast<std::size_t>(below(seed, i + 1))]);
	return deal;
}

std::uint64_t random_seed()
{
	std::random_device source;
	return (std::uint64_t{source()} << 32) ^ source();
}
