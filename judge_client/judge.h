// Asking memoria to judge one move, as any front end would: the request goes
// into the connector file of the game's folder, memoria is started there
// without a shell, and its exit status, its console and the reply record are
// read back and checked. Shared by the sample callers jogar and jogar-web.
#ifndef MEMORIA_JUDGE_CLIENT_JUDGE_H
#define MEMORIA_JUDGE_CLIENT_JUDGE_H

#include <array>
#include <cstdint>
#include <string>

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

// What a run of a program gave: its exit status, or 128 + the signal that
// ended it, and what it wrote to stdout and stderr.
struct program_run {
	int status = -1;
	std::string console;
	std::string errors;
};

// Starts `program` with no arguments and the working directory `dir`, and
// waits for it. Returns false, with a reason, when it could not be started.
bool run_program(const std::string &program, const std::string &dir, program_run &run,
		 std::string &failure);

// Judges the move of the board positions first and second in dir: returns
// the verdict, 0 or 1, and sets the judge's message line (Windows-1252,
// without its line break). Returns -1 with a reason when memoria cannot be
// started, fails (its stderr line is in the reason), or gives a malformed
// reply.
int judge_move(const std::string &program, const std::string &dir, int first, int second,
	       std::string &message, std::string &failure);

// The request text for a move, as the caller leaves it in the connector file.
std::string request_line(int first, int second);

// Checks a reply record against the move it answers. Returns the verdict, 0
// or 1, or -1 when the record is malformed or echoes another move.
int verdict_of_reply(const std::string &reply, int first, int second);

// Converts Windows-1252 text, as the judge writes its messages, to UTF-8.
std::string utf8_from_cp1252(const std::string &text);

#endif
