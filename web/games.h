// The games that jogar-web holds: for each, the deal that only the server
// knows, the cards found, and the folder in which memoria judges its moves.
#ifndef MEMORIA_WEB_GAMES_H
#define MEMORIA_WEB_GAMES_H

#include <array>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "deal.h"
#include "exchange.h"

struct web_game {
	std::string id;
	std::filesystem::path dir; // removed when the game ends
	card_deal deal{};
	std::array<bool, card_count> found{};
	int moves = 0;
	int pairs_left = pair_count;
	std::chrono::steady_clock::time_point used;
	bool ended = false; // taken from the store, its folder gone
	// Guards the game's state. One move at a time: memoria runs alone in
	// its folder.
	std::mutex turn;
};

// What a request gives back: an HTTP status and a JSON body.
struct api_reply {
	int status = 200;
	std::string body;
};

struct game_store {
	std::filesystem::path root;
	judge_setup judge;
	std::size_t max_games = 1000;
	std::chrono::minutes idle_limit{30};

	std::mutex lock; // guards the fields below
	std::map<std::string, std::shared_ptr<web_game>> games;
	std::size_t open_games = 0;
	unsigned long folders_made = 0;
};

// The handlers of the API. `id` is the game's ID as the URL gave it and
// `body` the request's body; neither ever names a file.
api_reply create_game(game_store &store);
api_reply show_game(game_store &store, const std::string &id);
api_reply flip_card(game_store &store, const std::string &id, const std::string &body);
api_reply make_move(game_store &store, const std::string &id, const std::string &body);

// Ends the games idle for longer than the store's limit.
void end_idle_games(game_store &store);

// Ends every game and removes its folder.
void end_all_games(game_store &store);

// A JSON error body.
std::string error_body(const std::string &message);

#endif
