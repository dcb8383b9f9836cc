// The cards: memoria's fixed layout, and how a front end deals it to the
// places that its player sees, so that the layout gives nothing away.
#ifndef MEMORIA_JUDGE_CLIENT_DEAL_H
#define MEMORIA_JUDGE_CLIENT_DEAL_H

#include <array>
#include <cstdint>

inline constexpr int card_count = 16;
inline constexpr int pair_count = card_count / 2;

// The value on the card at a board position, as memoria's fixed layout has
// it: the two cards of a pair side by side, positions 2k and 2k + 1 holding
// k + 1. A front end keeps this copy to draw the faces.
int card_value(int position);

// Where each place that the player sees holds its card: deal[place] is the
// board position sent to the judge for that place.
using card_deal = std::array<int, card_count>;

// Every place holding the card of the same position.
card_deal unshuffled_deal();

// The sixteen places in a random order drawn from seed, the same order for
// the same seed on every platform.
card_deal deal_cards(std::uint64_t seed);

// A seed from the system's random source.
std::uint64_t random_seed();

#endif
