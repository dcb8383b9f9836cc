// The game API of jogar-web over its store. Every request reads its game
// from the store and every change is kept there before it is answered, so
// any server on the store can answer for any game, and a server killed at
// any instant loses no answered move. A face is shown only as part of a
// move: the first card of a move when it is turned, the second with the
// judge's verdict. Each move is judged by memoria in a folder made for it
// alone and removed after it.
#ifndef MEMORIA_WEB_API_GAMES_H
#define MEMORIA_WEB_API_GAMES_H

#include <atomic>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>

#include "exchange.h"
#include "store.h"

// What a request gives back: an HTTP status and a body, JSON unless said.
struct api_reply {
	api_reply() = default;
	api_reply(int s, std::string b) : status(s), body(std::move(b)) {}
	int status = 200;
	std::string body;
	std::string type = "application/json";
	std::string allow; // for a 405, the method that the path takes
};

using reply_sink = std::function<void(api_reply)>;
// Where the handlers run: the caller hands work to its pool of threads.
using work_runner = std::function<void(std::function<void()> work)>;

struct game_service {
	game_store *store = nullptr;
	std::filesystem::path scratch; // where each move's folder is made
	judge_setup judge;
	work_runner run;
	long max_games = 1000;
	long max_games_per_client = 20;
	// A game takes room while it is unfinished and changed this recently.
	std::chrono::minutes open_for{30};
	std::atomic<std::size_t> busy{0}; // requests under way, for a clean stop
	// Told of each kept change, with its answer, from the thread that kept it.
	std::function<void(const std::string &id, const std::string &answer)> changed;
};

// The handlers of the API, each run where it may wait (for the store, for
// the judge), never on the server's own thread. `id` is the game's ID as the
// URL gave it, `body` the request's body and `client` the client's address;
// none ever names a file.
// A game for the players that the body names (a game alone when it is
// empty), kept for the bests of `browser`, the ID that a browser sends.
api_reply create_game(game_service &service, const std::string &client, const std::string &body,
		      const std::string &browser);
// `token` is the seat token that the request's header carries, if any: a
// game on several devices takes a change only from the seat whose turn it
// is, and tells a device which seat it holds.
api_reply show_game(game_service &service, const std::string &id, const std::string &token);
api_reply flip_card(game_service &service, const std::string &id, const std::string &body,
		    const std::string &token);
api_reply make_move(game_service &service, const std::string &id, const std::string &body,
		    const std::string &token);
// A game alone, once started, is paused and resumed: its time stops.
api_reply pause_game(game_service &service, const std::string &id, bool paused);
// A browser's bests in each kind of game: alone, against each level.
api_reply show_bests(game_service &service, const std::string &browser);
// The friend's device takes the free seat with the invitation of its link.
api_reply take_seat(game_service &service, const std::string &id, const std::string &invite);
// The computer player whose turn it is turns its next card.
api_reply computer_step(game_service &service, const std::string &id, const std::string &body);

// What a WebSocket that follows a game hears of a change: its answer.
std::string change_message(const std::string &id, const std::string &answer);

// A JSON error body.
std::string error_body(const std::string &message);

// Unix time in milliseconds: the store's clock, shared by its servers.
std::int64_t unix_ms();

#endif
