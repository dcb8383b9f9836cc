// jogar: a whole game in the terminal, every move judged by memoria through
// the connector file, as a game front end would do it. The cards are dealt
// to the sixteen places in a random order (the same one for the same seed);
// moves are read from stdin, two places a line, and each is sent to memoria
// as the board positions of those cards. jogar(6) is its manual.
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>

#include "deal.h"
#include "exchange.h"
#include "files.h"
#include "usage.h"
#include "game.h"
#include "text.h"

namespace fs = std::filesystem;

namespace {

const char usage[] = "usage: jogar [--dir FOLDER] [--memoria PROGRAM] [--seed N]\n"
		     "       jogar --help | --version\n";

struct options {
	fs::path dir;
	fs::path memoria;
	std::uint64_t seed = 0;
	bool seeded = false;
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

bool parse_jogar_options(int argc, char **argv, options &o)
{
	for (int i = 1; i < argc; ++i) {
		const std::string arg = argv[i];
		if (i + 1 >= argc)
			return false;
		if (arg == "--dir" || arg == "--memoria")
			(arg == "--dir" ? o.dir : o.memoria) = argv[++i];
		else if (arg == "--seed" && parse_seed(argv[++i], o.seed))
			o.seeded = true;
		else
			return false;
	}
	return true;
}

const char legend[] = "[n] face down at position n, (v) face up this move, v found\n";

bool ask_move(const game &g, int &first, int &second)
{
	std::string line;
	for (;;) {
		std::cout << "move " << g.moves + 1 << ", two positions: " << std::flush;
		if (!std::getline(std::cin, line))
			return false;
		failure refusal;
		if (check_entry(g, line, first, second, refusal))
			return true;
		std::cout << "refused: " << refusal.reason << "\n";
	}
}

int play(const judge_setup &judge, const fs::path &dir, std::uint64_t seed)
{
	game g;
	g.deal = deal_cards(seed);
	std::cout << legend << draw_board(g, -1, -1);
	while (g.pairs_found < pair_count) {
		int first = -1;
		int second = -1;
		if (!ask_move(g, first, second)) {
			std::cout << "\n";
			std::cerr << "jogar: input ended before the game did\n";
			return 2;
		}
		judgement judged;
		failure why;
		if (!ask_memoria(judge, dir, g.deal[static_cast<std::size_t>(first)],
				 g.deal[static_cast<std::size_t>(second)], judged, why)) {
			std::cerr << "jogar: " << why.reason << "\n";
			return 1;
		}
		++g.moves;
		std::cout << draw_board(g, first, second)
			  << "memoria: " << utf8_from_cp1252(judged.message) << "\n";
		if (judged.verdict == 1) {
			g.found[static_cast<std::size_t>(first)] = true;
			g.found[static_cast<std::size_t>(second)] = true;
			++g.pairs_found;
		}
	}
	std::cout << draw_board(g, -1, -1) << "All " << pair_count << " pairs found in " << g.moves
		  << " moves.\n";
	return 0;
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
	std::cout << "Playing in " << dir.string() << " with " << judge.program.string() << "\n";
	const int status = play(judge, dir, o.seeded ? o.seed : random_seed());
	std::error_code ignored;
	if (o.dir.empty())
		fs::remove_all(dir, ignored);
	return status;
}
