// jogar: a whole game in the terminal, every move judged by memoria through
// the connector file, as a game front end would do it. The cards are dealt
// to the sixteen places in a random order (the same one for the same seed);
// moves are read from stdin, two places a line, and each is sent to memoria
// as the board positions of those cards. Up to four take turns, people and a
// computer opponent. On a terminal the board is drawn in place; otherwise
// the game is told line by line, for scripts. jogar(6) is its manual.
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include "board_text.h"
#include "deal.h"
#include "exchange.h"
#include "files.h"
#include "opponent.h"
#include "terminal.h"
#include "text.h"
#include "usage.h"

namespace fs = std::filesystem;

namespace {

const char usage[] = "usage: jogar [--dir FOLDER] [--memoria PROGRAM] [--seed N]\n"
		     "             [--players N] [--names NAME,...] [--computer LEVEL]\n"
		     "       jogar --help | --version\n";

struct options {
	fs::path dir;
	fs::path memoria;
	std::uint64_t seed = 0;
	bool seeded = false;
	int people = 1;
	std::vector<std::string> names;
	computer_level computer = computer_level::none;
};

// A whole decimal number, as --seed takes it.
bool parse_seed(const std::string &text, std::uint64_t &seed)
{
	if (text.empty() || text.size() > 19 ||
	    text.find_first_not_of("0123456789") != std::string::npos)
		return false;
	seed = std::stoull(text);
	return true;
}

// Names separated by commas, none empty.
bool parse_names(const std::string &text, std::vector<std::string> &names)
{
	names.clear();
	std::size_t at = 0;
	for (;;) {
		const std::size_t comma = text.find(',', at);
		names.push_back(text.substr(at, comma == std::string::npos ? comma : comma - at));
		if (names.back().empty() || names.back().size() > 40)
			return false;
		if (comma == std::string::npos)
			return true;
		at = comma + 1;
	}
}

bool parse_option(const std::string &arg, const std::string &value, options &o)
{
	if (arg == "--dir" || arg == "--memoria")
		(arg == "--dir" ? o.dir : o.memoria) = value;
	else if (arg == "--seed")
		o.seeded = parse_seed(value, o.seed);
	else if (arg == "--players")
		o.people = value.size() == 1 && value[0] >= '1' && value[0] <= '4' ? value[0] - '0'
										   : 0;
	else if (arg == "--names")
		return parse_names(value, o.names);
	else if (arg == "--computer")
		return (o.computer = level_named(value)) != computer_level::none;
	else
		return false;
	return o.people > 0 && (arg != "--seed" || o.seeded);
}

bool parse_jogar_options(int argc, char **argv, options &o)
{
	for (int i = 1; i < argc; i += 2) {
		if (i + 1 >= argc || !parse_option(argv[i], argv[i + 1], o))
			return false;
	}
	const int seats = o.people + (o.computer != computer_level::none ? 1 : 0);
	return seats <= max_players && o.names.size() <= static_cast<std::size_t>(o.people);
}

const char legend[] = "[n] face down at position n, (v) face up this move, v found\n";

// The players: the people named or numbered, then the computer.
std::vector<player> players_of(const options &o)
{
	std::vector<player> players;
	for (int i = 0; i < o.people; ++i) {
		const std::size_t n = static_cast<std::size_t>(i);
		players.push_back(
			{n < o.names.size() ? o.names[n] : "player " + std::to_string(i + 1),
			 computer_level::none, 0});
	}
	if (o.computer != computer_level::none)
		players.push_back({"computer", o.computer, 0});
	return players;
}

const std::string &name_of_turn(const game &g)
{
	return g.players[static_cast<std::size_t>(g.turn)].name;
}

std::string scores(const game &g)
{
	std::string line = "pairs:";
	for (const player &p : g.players)
		line += " " + p.name + " " + std::to_string(p.pairs) +
			(&p == &g.players.back() ? "" : ",");
	return line + "\n";
}

std::string ending(const game &g)
{
	std::string all = "All " + std::to_string(pair_count) + " pairs found in " +
			  std::to_string(g.moves) + " moves.\n";
	if (g.players.size() == 1)
		return all;
	const std::vector<int> best = leaders(g);
	const player &first = g.players[static_cast<std::size_t>(best[0])];
	if (best.size() == 1)
		return all + first.name + " wins with " + std::to_string(first.pairs) + " pairs.\n";
	std::string names;
	for (std::size_t i = 0; i < best.size(); ++i)
		names += (i == 0                 ? ""
			  : i + 1 == best.size() ? " and "
						 : ", ") +
			 g.players[static_cast<std::size_t>(best[i])].name;
	return all + "A draw: " + names + ", " + std::to_string(first.pairs) + " pairs each.\n";
}

// How the game is shown: drawn in place on a terminal, or line by line.
struct view {
	bool live = false;
	bool colour = false;
};

const char title[] = "Find the eight pairs: type two places a move, for example A1 B2.\n\n";

// The whole screen, drawn in place: the board, whose turn, what happened.
void redraw(const view &v, const game &g, table_shown shown, const std::string &said)
{
	shown.colour = v.colour;
	std::string pairs = "Moves: " + std::to_string(g.moves) +
			    "   Pairs left: " + std::to_string(g.pairs_left) + "\n";
	if (g.players.size() > 1)
		pairs += scores(g);
	std::cout << "\x1b[H\x1b[2J" << title << draw_table(g, shown) << "\n"
		  << pairs << said << std::flush;
}

bool ask_move(const view &v, const game &g, int &first, int &second)
{
	std::string line;
	std::string refused;
	for (;;) {
		if (v.live)
			redraw(v, g, {}, refused);
		if (g.players.size() > 1)
			std::cout << name_of_turn(g) << ", ";
		std::cout << "move " << g.moves + 1 << (v.live ? ": " : ", two positions: ")
			  << std::flush;
		if (!std::getline(std::cin, line))
			return false;
		failure refusal;
		if (check_entry(g, line, first, second, refusal))
			return true;
		refused = "refused: " + refusal.reason + "\n";
		if (!v.live)
			std::cout << refused;
	}
}

// On a terminal, waits for Enter before the next turn, so that the player
// sees the cards of a miss, or the computer's move, and then no more.
bool go_on(const view &v)
{
	if (!v.live)
		return true;
	std::cout << "Press Enter to go on. " << std::flush;
	std::string line;
	return static_cast<bool>(std::getline(std::cin, line));
}

// The judge's own words, and what they mean to the player.
std::string meaning_of(const judgement &judged)
{
	const std::string words = utf8_from_cp1252(judged.message);
	const std::string said = "\xE2\x80\x9C" + words.substr(0, words.find_last_not_of(' ') + 1) +
				 "\xE2\x80\x9D: ";
	return said + (judged.verdict == 1 ? "a pair!" : "not a pair.") + "\n";
}

// The computer's move, chosen from what it has seen: its first card is
// turned and shown to it before it chooses the second.
std::string computer_move(const view &v, const game &g, opponent &o, int &first, int &second)
{
	first = choose_first(o, g);
	see_card(o, first, value_at(g, first));
	second = choose_second(o, g, first);
	const std::string places = v.live ? place_name(first) + " " + place_name(second)
					  : std::to_string(first) + " " + std::to_string(second);
	return name_of_turn(g) + ", move " + std::to_string(g.moves + 1) + ": " + places + "\n";
}

// The move just judged, shown: on a terminal with the two cards up until
// the player goes on (a found pair needs no pause, unless the computer
// found it); line by line, as the board, the judge's message and the pairs.
bool show_move(const view &v, const game &g, int first, int second, const judgement &judged,
	       const std::string &said)
{
	if (!v.live) {
		std::cout << said << draw_board(g, first, second)
			  << "memoria: " << utf8_from_cp1252(judged.message) << "\n";
		if (g.players.size() > 1)
			std::cout << scores(g);
		return true;
	}
	const bool missed = judged.verdict != 1;
	redraw(v, g, {missed ? first : -1, missed ? second : -1, missed, false},
	       said + meaning_of(judged));
	return finished(g) || (!missed && said.empty()) || go_on(v);
}

int input_ended()
{
	std::cout << "\n";
	std::cerr << "jogar: input ended before the game did\n";
	return 2;
}

int play(const view &v, const judge_setup &judge, const fs::path &dir, const options &o,
	 std::uint64_t seed)
{
	game g;
	g.deal = deal_cards(seed);
	g.players = players_of(o);
	// The computer's own choices, drawn apart from the deal's.
	opponent computer = make_opponent(o.computer, seed ^ 0x6A6F676172u);
	if (!v.live)
		std::cout << legend << draw_board(g, -1, -1);
	while (!finished(g)) {
		int first = -1;
		int second = -1;
		const bool computers_turn = g.players[static_cast<std::size_t>(g.turn)].computer !=
					    computer_level::none;
		std::string said;
		if (computers_turn)
			said = computer_move(v, g, computer, first, second);
		else if (!ask_move(v, g, first, second))
			return input_ended();
		judgement judged;
		failure why;
		if (!ask_memoria(judge, dir, g.deal[static_cast<std::size_t>(first)],
				 g.deal[static_cast<std::size_t>(second)], judged, why)) {
			std::cerr << "jogar: " << why.reason << "\n";
			return 1;
		}
		// Both faces are on the table now, for the computer as for anyone.
		if (!computers_turn)
			see_card(computer, first, value_at(g, first));
		see_card(computer, second, value_at(g, second));
		count_move(g, first, second, judged.verdict);
		if (!show_move(v, g, first, second, judged, said))
			return input_ended();
	}
	if (v.live)
		redraw(v, g, {}, ending(g));
	else
		std::cout << draw_board(g, -1, -1) << ending(g);
	return 0;
}

// On a terminal, after a game: another, or not.
bool again(const view &v)
{
	if (!v.live)
		return false;
	std::cout << "Play again? [y/N] " << std::flush;
	std::string line;
	return std::getline(std::cin, line) && !line.empty() && (line[0] == 'y' || line[0] == 'Y');
}

// The folder to play in: the one named, made if need be, or a fresh one.
bool game_folder(const options &o, fs::path &dir, failure &why)
{
	if (o.dir.empty())
		return make_scratch_folder("jogar", dir, why);
	dir = fs::absolute(o.dir);
	std::error_code error;
	fs::create_directories(dir, error);
	if (error)
		why = {"cannot work in " + dir.string() + ": " + error.message()};
	return !error;
}

} // namespace

int main(int argc, char **argv)
{
	options o;
	const bool parsed = parse_jogar_options(argc, argv, o);
	if (const int status = command_line_status("jogar", usage, argc, argv, parsed); status >= 0)
		return status;
	judge_setup judge;
	judge.program = o.memoria.empty() ? installed_memoria(own_folder(argv[0]))
					  : fs::absolute(o.memoria);
	fs::path dir;
	failure why;
	if (!game_folder(o, dir, why)) {
		std::cerr << "jogar: " << why.reason << "\n";
		return 2;
	}
	// The game goes on without it: only an interruption would leave the folder.
	if (o.dir.empty() && !remove_when_interrupted(dir))
		std::cerr << "jogar: Ctrl-C would leave " << dir.string() << " behind\n";
	view v;
	v.live = live_terminal();
	v.colour = v.live && colour_wanted();
	if (!v.live)
		std::cout << "Playing in " << dir.string() << " with " << judge.program.string()
			  << "\n";
	// Another game deals afresh: by the next seed, when one was given.
	std::uint64_t seed = o.seeded ? o.seed : random_seed();
	int status = 0;
	for (;;) {
		status = play(v, judge, dir, o, seed);
		if (status != 0 || !again(v))
			break;
		seed = o.seeded ? seed + 1 : random_seed();
	}
	std::error_code ignored;
	if (o.dir.empty())
		fs::remove_all(dir, ignored);
	return status;
}
