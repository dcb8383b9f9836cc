// The games that jogar-web holds and the API over them: for each game, the
// deal that only the server knows, the cards found, the card shown of a move
// under way, and the folder in which memoria judges its moves. A face is
// shown only as part of a move: the first card of a move when it is turned,
// the second with the judge's verdict.
#ifndef MEMORIA_WEB_API_GAMES_H
#define MEMORIA_WEB_API_GAMES_H

#include <array>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "deal.h"
#include "exchange.h"

struct web_game {
	std::string id;
	std::string owner; // the address of the client that made it
	std::filesystem::path dir;
	card_deal deal{};
	std::array<bool, card_count> found{};
	int moves = 0;
	int pairs_left = pair_count;
	int pending = -1;     // the place turned as a move's first card, or -1
	bool judging = false; // a move is with the judge
	bool ended = false;   // taken from the store, its folder gone
	std::chrono::steady_clock::time_point made;
	std::chrono::steady_clock::time_point last_move;
};

// What a request gives back: an HTTP status and a body, JSON unless said.
struct api_reply {
	api_reply() = default;
	api_reply(int s, std::string b) : status(s), body(std::move(b)) {}
	int status = 200;
	std::string body;
	std::string type = "application/json";
	std::string allow; // for a 405, the method that the path takes
};

// Where a move is judged: the caller hands the work to its judge pool and
// the work hands its reply to `done`, on whatever thread it ran.
using judge_runner = std::function<void(std::function<void()> work)>;
using reply_sink = std::function<void(api_reply)>;

struct game_store {
	std::filesystem::path root;
	judge_setup judge;
	judge_runner run_judge;
	std::size_t max_games = 1000;
	std::size_t max_games_per_client = 20;
	// A game in which no move was made expires sooner than one being played.
	std::chrono::seconds unplayed_limit{5 * 60};
	std::chrono::seconds idle_limit{30 * 60};

	std::mutex lock; // guards everything below, and every game's fields
	std::map<std::string, std::shared_ptr<web_game>> games;
	std::map<std::string, std::size_t> games_of; // open games per client
	std::size_t open_games = 0;
	std::size_t judging = 0; // moves with the judge now
	unsigned long folders_made = 0;
};

// The handlers of the API. `id` is the game's ID as the URL gave it, `body`
// the request's body and `client` the client's address; none ever names a
// file. A handler answers through `done`, at once or once the judge has.
void create_game(game_store &store, const std::string &client, const reply_sink &done);
void show_game(game_store &store, const std::string &id, const reply_sink &done);
void flip_card(game_store &store, const std::string &id, const std::string &body,
	       const reply_sink &done);
void make_move(game_store &store, const std::string &id, const std::string &body,
	       const reply_sink &done);

// Ends the games past their limits.
void end_idle_games(game_store &store);

// Ends every game and removes its folder; moves still with the judge are
// answered as if the game were gone.
void end_all_games(game_store &store);

// A JSON error body.
std::string error_body(const std::string &message);

#endif
