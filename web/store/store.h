// Where jogar-web keeps its games: each game's deal and state, and the log
// of its changes (a card turned, a move judged), each with the answer that
// was given for it. A change is kept only if the game is still at the
// version it was made from, so two servers, or two tabs, never count one
// move twice or lose one. Any number of servers may share one store.
#ifndef MEMORIA_WEB_STORE_STORE_H
#define MEMORIA_WEB_STORE_STORE_H

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "failure.h"
#include "game.h"
#include "sql.h"

struct stored_game {
	std::string id;
	std::string owner; // the address of the client that made it
	game play;         // its log is the store's, not loaded with it
	// For a game on several devices, each player's seat token, empty while
	// the seat is free; none for a game on one screen.
	std::vector<std::string> seats;
	std::string invite;          // the secret of the link to the free seat, until taken
	std::int64_t version = 0;    // how many changes it has seen
	std::int64_t made_ms = 0;    // Unix time, in milliseconds
	std::int64_t changed_ms = 0; // of the last change
	// For scores: the browser that made it, and its kind ("alone", or a
	// computer's level against one person; empty for other games).
	std::string browser;
	std::string kind;
	std::int64_t started_ms = 0;      // when its first card was turned, or 0
	std::int64_t paused_ms = 0;       // the total of its pauses
	std::int64_t paused_since_ms = 0; // while paused, when the pause began
};

// Its time: from the first card turned to the last change, less the pauses.
std::int64_t playing_ms(const stored_game &g, std::int64_t now_ms);

// A browser's bests in one kind of game, over its finished games.
struct best_scores {
	std::string kind;
	std::int64_t games = 0;
	std::int64_t fewest_moves = 0;
	std::int64_t shortest_ms = 0;
	std::int64_t wins = 0; // against the computer: games the person won alone
};

// A change, as the log keeps it: made to the game at `version`.
struct stored_change {
	std::int64_t version = 0;
	int first = -1;
	int second = -1;     // -1 when the change turned a move's first card
	int verdict = -1;    // the judge's, for a move
	std::string message; // the judge's, in UTF-8, for a move
	std::string answer;  // what was answered, to answer a retry alike
	int player = 0;      // whose turn it was
};

// The games that take room: unfinished and changed since `open_since_ms`.
struct store_caps {
	std::int64_t open_since_ms = 0;
	std::int64_t max_games = 0;
	std::int64_t max_games_per_client = 0;
};

enum class creation { made, store_full, client_full };

struct store_report {
	std::int64_t schema = 0;
	std::int64_t unfinished = 0;
	std::int64_t finished = 0;
	std::int64_t changes = 0;
};

class game_store {
public:
	// Opens the store that `where` names (see connect_sql) and brings its
	// schema up to date.
	bool open(const std::string &where, failure &why);

	bool create(const stored_game &g, const store_caps &caps, creation &result, failure &why);
	// `exists` says whether the game is there.
	bool load(const std::string &id, stored_game &g, bool &exists, failure &why);
	bool load_change(const std::string &id, std::int64_t version, stored_change &c,
			 bool &exists, failure &why);
	// Every change of a game, the first first; without their answers.
	bool load_log(const std::string &id, std::vector<stored_change> &log, failure &why);
	// Keeps the change c and the game g as it leaves it (at c.version + 1)
	// in one transaction, unless the game has left c.version already:
	// then `kept` is false and nothing is written.
	bool keep_change(const stored_game &g, const stored_change &c, bool &kept, failure &why);
	// Gives the seat that the invitation `invite` holds the token `token`,
	// once: `taken` is false when the invitation is not the game's or was
	// used already.
	bool take_seat(const std::string &id, const std::string &invite, int seat,
		       const std::string &token, bool &taken, failure &why);
	// Pauses an unfinished game that has started, or ends its pause;
	// `done` is false when there was nothing to pause or to end.
	bool set_paused(const std::string &id, bool paused, std::int64_t now_ms, bool &done,
			failure &why);
	bool bests(const std::string &browser, std::vector<best_scores> &bests, failure &why);
	bool report(store_report &report, failure &why);
	// Each kept change is announced to the listening servers (listener.h)
	// as "TAG\nGAME\nANSWER", so that a server knows its own.
	void announce_as(std::string tag) { tag_ = std::move(tag); }
	// Removes up to `batch` games, with their logs, that finished before
	// `finished_before_ms` or, unfinished, saw no change since
	// `idle_before_ms`; `removed` says how many.
	bool tidy(std::int64_t finished_before_ms, std::int64_t idle_before_ms, int batch,
		  int &removed, failure &why);

private:
	using work = std::function<bool(sql_connection &, failure &)>;
	// Runs work in one transaction on a connection of the pool, rolled back
	// when it fails.
	bool in_transaction(bool writing, const work &body, failure &why);
	// Runs one statement that only reads, in a transaction of its own.
	bool read(const std::string &statement, const std::vector<sql_param> &params,
		  sql_rows &rows, failure &why);

	std::string where_;
	std::string tag_;
	// SQLite has one writer at a time: this server's writers take turns
	// here, so that only another process's writer makes one wait in
	// SQLite's own busy loop, which sleeps in steps of up to 100 ms.
	std::mutex writer_;
	std::mutex lock_; // guards the idle connections
	std::vector<std::unique_ptr<sql_connection>> idle_;
};

#endif
