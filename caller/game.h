// The sample caller's side of a game: its own copy of the layout to draw the
// faces, which cards are found, and the checks it makes before and after it
// asks memoria to judge a move.
#ifndef MEMORIA_CALLER_GAME_H
#define MEMORIA_CALLER_GAME_H

#include <array>
#include <string>

inline constexpr int card_count = 16;
inline constexpr int pair_count = card_count / 2;

struct game {
	std::array<bool, card_count> found{};
	int pairs_found = 0;
	int moves = 0;
};

// The value on the card at a position, as the fixed layout has it: the two
// cards of a pair side by side, positions 2k and 2k + 1 holding k + 1.
int card_value(int position);

// Reads a move typed by the player: two positions 0 to 15, of two different
// cards not yet found. Returns an empty string and sets the positions when the
// entry is good, or else a short reason to show before asking again.
std::string check_entry(const game &g, const std::string &line, int &first, int &second);

// The board as a 4 by 4 grid, one row a line: a card face down shows its
// position in brackets, a found card its value, and the two cards of the
// current move (if any, else -1) their values in parentheses.
std::string draw_board(const game &g, int up_first, int up_second);

// The request text for a move, as the caller leaves it in the connector file.
std::string request_line(int first, int second);

// Checks a reply record against the move it answers. Returns the verdict, 0
// or 1, or -1 when the record is malformed or echoes another move.
int verdict_of_reply(const std::string &reply, int first, int second);

// Converts Windows-1252 text, as the judge writes its messages, to UTF-8.
std::string utf8_from_cp1252(const std::string &text);

#endif
