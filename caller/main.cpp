// jogar: a whole game in the terminal, every move judged by memoria through
// the connector file, as a game front end would do it.
//
// usage: jogar [--dir FOLDER] [--memoria PROGRAM] [--seed N]
// The cards are dealt to the sixteen places in a random order (the same one
// for the same seed); moves are read from stdin, two places a line, and each
// is sent to memoria as the board positions of those cards. Exit status: 0 when
// all pairs are found, 1 when memoria cannot be started, fails or gives a
// malformed reply, 2 for bad usage or when stdin ends before the game does.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>

#include "game.h"
#include "judge.h"

namespace fs = std::filesystem;

namespace {

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

bool parse_options(int argc, char **argv, options &o)
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

// memoria is looked for beside jogar itself.
fs::path memoria_beside(const char *argv0)
{
	std::error_code error;
	fs::path self = fs::canonical("/proc/self/exe", error);
	if (error)
		self = fs::absolute(argv0);
#ifdef _WIN32
	return self.parent_path() / "memoria.exe";
#else
	return self.parent_path() / "memoria";
#endif
}

fs::path make_game_dir()
{
	const auto seed = std::chrono::steady_clock::now().time_since_epoch().count();
	for (long n = 0; n < 1000; ++n) {
		fs::path dir = fs::temp_directory_path() / ("jogar-" + std::to_string(seed + n));
		std::error_code error;
		if (fs::create_directory(dir, error))
			return dir;
	}
	return {};
}

const char legend[] = "[n] face down at position n, (v) face up this move, v found\n";

bool ask_move(const game &g, int &first, int &second)
{
	std::string line;
	for (;;) {
		std::cout << "move " << g.moves + 1 << ", two positions: " << std::flush;
		if (!std::getline(std::cin, line))
			return false;
		const std::string refusal = check_entry(g, line, first, second);
		if (refusal.empty())
			return true;
		std::cout << "refused: " << refusal << "\n";
	}
}

int play(const std::string &program, const std::string &dir, std::uint64_t seed)
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
		std::string message;
		std::string failure;
		const int verdict =
			judge_move(program, dir, g.deal[static_cast<std::size_t>(first)],
				   g.deal[static_cast<std::size_t>(second)], message, failure);
		if (verdict < 0) {
			std::cerr << "jogar: " << failure << "\n";
			return 1;
		}
		++g.moves;
		std::cout << draw_board(g, first, second)
			  << "memoria: " << utf8_from_cp1252(message) << "\n";
		if (verdict == 1) {
			g.found[static_cast<std::size_t>(first)] = true;
			g.found[static_cast<std::size_t>(second)] = true;
			++g.pairs_found;
		}
	}
	std::cout << draw_board(g, -1, -1) << "All " << pair_count << " pairs found in " << g.moves
		  << " moves.\n";
	return 0;
}

} // namespace

int main(int argc, char **argv)
{
	options o;
	if (!parse_options(argc, argv, o)) {
		std::cerr << "usage: jogar [--dir FOLDER] [--memoria PROGRAM] [--seed N]\n";
		return 2;
	}
	const fs::path program =
		o.memoria.empty() ? memoria_beside(argv[0]) : fs::absolute(o.memoria);
	const bool own_dir = o.dir.empty();
	const fs::path dir = own_dir ? make_game_dir() : fs::absolute(o.dir);
	std::error_code error;
	if (dir.empty() || (fs::create_directories(dir, error), error)) {
		std::cerr << "jogar: cannot work in " << dir << ": " << error.message() << "\n";
		return 2;
	}
	std::cout << "Playing in " << dir.string() << " with " << program.string() << "\n";
	const int status = play(program.string(), dir.string(), o.seeded ? o.seed : random_seed());
	if (own_dir)
		fs::remove_all(dir, error);
	return status;
}
