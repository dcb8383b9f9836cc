// The board of sixteen cards and the layout every game starts from.
#ifndef MEMORIA_RULES_BOARD_H
#define MEMORIA_RULES_BOARD_H

#include <array>
#include <cstddef>
#include <cstdint>

inline constexpr std::size_t board_size = 16;

// A cell that holds this value is a card that has already been found.
inline constexpr std::int32_t found_marker = -1;

using board_cells = std::array<std::int32_t, board_size>;

// Eight values, each on two neighbouring cards: positions 2k and 2k + 1 hold k + 1.
inline constexpr board_cells initial_board = {1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8};

#endif
