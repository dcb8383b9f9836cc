// The board of sixteen cards and the layout every game starts from.
#ifndef MEMORIA_RULES_BOARD_H
#define MEMORIA_RULES_BOARD_H

#include <stddef.h>
#include <stdint.h>

inline constexpr size_t board_size = 16;

// A cell that holds this value is a card that has already been found.
inline constexpr int32_t found_marker = -1;

// Sixteen card values by position. A plain struct around the array, so that a
// board is copied and passed as one value.
struct board_cells {
	int32_t cells[board_size];
};

// Eight values, each on two neighbouring cards: positions 2k and 2k + 1 hold k + 1.
inline constexpr board_cells initial_board = {{1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8}};

#endif
