#include "games.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <iostream>
#include <system_error>
#include <utility>
#include <vector>

#include "body.h"
#include "text.h"

using nlohmann::json;
namespace fs = std::filesystem;
using std::chrono::steady_clock;

namespace {

// Bytes from the system's random source (getrandom(2)).
bool random_bytes(unsigned char *out, std::size_t size)
{
	while (size > 0) {
		const ssize_t got = getrandom(out, size, 0);
		if (got < 0 && errno == EINTR)
			continue;
		if (got <= 0)
			return false;
		out += got;
		size -= static_cast<std::size_t>(got);
	}
	return true;
}

// A 128-bit random ID in lower-case hexadecimal, and a seed for the deal.
bool new_id(std::string &id, std::uint64_t &seed)
{
	unsigned char bytes[24];
	if (!random_bytes(bytes, sizeof bytes))
		return false;
	static const char hex[] = "0123456789abcdef";
	id.clear();
	for (std::size_t i = 0; i < 16; ++i) {
		id += hex[bytes[i] >> 4];
		id += hex[bytes[i] & 15];
	}
	seed = 0;
	for (std::size_t i = 16; i < 24; ++i)
		seed = (seed << 8) | bytes[i];
	return true;
}

api_reply reply_json(int status, const json &body)
{
	return {status, body.dump(-1, ' ', false, json::error_handler_t::replace)};
}

api_reply refuse(int status, const std::string &message)
{
	return {status, error_body(message)};
}

int value_at(const web_game &g, int place)
{
	return card_value(g.deal[static_cast<std::size_t>(place)]);
}

// The state a player may see: never a face that no move has shown.
json state_of(const web_game &g)
{
	json found = json::object();
	for (int p = 0; p < card_count; ++p) {
		if (g.found[static_cast<std::size_t>(p)])
			found[std::to_string(p)] = value_at(g, p);
	}
	json pending = nullptr;
	if (g.pending >= 0)
		pending = {{"place", g.pending}, {"value", value_at(g, g.pending)}};
	return {{"game", g.id},
		{"moves", g.moves},
		{"pairs_left", g.pairs_left},
		{"finished", g.pairs_left == 0},
		{"found", found},
		{"pending", pending}};
}

// The game of that ID, with the store's lock held.
std::shared_ptr<web_game> find_game(game_store &store, const std::string &id)
{
	const auto at = store.games.find(id);
	return at == store.games.end() || at->second->ended ? nullptr : at->second;
}

void remove_folder(const fs::path &dir)
{
	std::error_code ignored;
	fs::remove_all(dir, ignored);
}

// The game no longer counts as open: its room and its folder are freed. The
// store's lock is held.
void close_game(game_store &store, web_game &g)
{
	remove_folder(g.dir);
	if (store.open_games > 0)
		--store.open_games;
	const auto owner = store.games_of.find(g.owner);
	if (owner != store.games_of.end() && --owner->second == 0)
		store.games_of.erase(owner);
}

// Drops the finished games, which only a GET still shows, when room is
// short. The store's lock is held.
void drop_finished(game_store &store)
{
	for (auto at = store.games.begin(); at != store.games.end();) {
		const bool finished = at->second->pairs_left == 0 && !at->second->judging;
		if (finished)
			at->second->ended = true;
		at = finished ? store.games.erase(at) : std::next(at);
	}
}

// Why the card at a place cannot be turned now, or an empty string.
std::string card_refusal(const web_game &g, int place)
{
	if (g.pairs_left == 0)
		return "the game is over";
	if (g.judging)
		return "a move of this game is being judged";
	if (g.found[static_cast<std::size_t>(place)])
		return "a card already found";
	return "";
}

// Why a move of these places cannot be judged now, or an empty string.
std::string refusal_of(const web_game &g, int first, int second)
{
	if (first == second)
		return "the same card twice";
	const std::string refusal = card_refusal(g, first);
	return refusal.empty() ? card_refusal(g, second) : refusal;
}

// Marks the game as being judged, with the store's lock held: until the
// judge has ruled, no other move of it starts.
void claim_move(game_store &store, web_game &g)
{
	g.judging = true;
	++store.judging;
}

// Hands a claimed move to the judge, with the store's lock no longer held;
// the answer goes to done once the judge has ruled.
void judge_move(game_store &store, const std::shared_ptr<web_game> &g, int first, int second,
		const reply_sink &done)
{
	const int first_position = g->deal[static_cast<std::size_t>(first)];
	const int second_position = g->deal[static_cast<std::size_t>(second)];
	store.run_judge([&store, g, first, second, first_position, second_position, done] {
		judgement judged;
		failure why;
		const bool ruled = ask_memoria(store.judge, g->dir, first_position, second_position,
					       judged, why);
		api_reply reply;
		{
			const std::lock_guard<std::mutex> hold(store.lock);
			g->judging = false;
			--store.judging;
			if (g->ended) {
				reply = refuse(404, "no such game");
			} else if (!ruled) {
				// The reason names board positions, which give the faces
				// away: the operator reads it, the player does not.
				std::cerr << "jogar-web: game " << g->id << ": " << why.reason
					  << "\n";
				reply = judged.timed_out ? refuse(504, "the judge took too long; "
								       "the move was not counted")
							 : refuse(502, "the judge failed; the move "
								       "was not counted");
			} else {
				++g->moves;
				g->pending = -1;
				g->last_move = steady_clock::now();
				if (judged.verdict == 1) {
					g->found[static_cast<std::size_t>(first)] = true;
					g->found[static_cast<std::size_t>(second)] = true;
					if (--g->pairs_left == 0)
						close_game(store, *g);
				}
				json body = state_of(*g);
				body.erase("game");
				body["first"] = first;
				body["second"] = second;
				body["values"] = {value_at(*g, first), value_at(*g, second)};
				body["verdict"] = judged.verdict;
				body["message"] = utf8_from_cp1252(judged.message);
				reply = reply_json(200, body);
			}
		}
		done(reply);
	});
}

} // namespace

std::string error_body(const std::string &message)
{
	return json{{"error", message}}.dump(-1, ' ', false, json::error_handler_t::replace);
}

void create_game(game_store &store, const std::string &client, const reply_sink &done)
{
	auto g = std::make_shared<web_game>();
	std::uint64_t seed = 0;
	if (!new_id(g->id, seed))
		return done(refuse(500, "the system's random source failed"));
	g->deal = deal_cards(seed);
	g->owner = client;
	g->made = g->last_move = steady_clock::now();
	const std::lock_guard<std::mutex> hold(store.lock);
	if (store.open_games >= store.max_games)
		return done(refuse(503, "too many games are open; try again later"));
	if (store.games_of[client] >= store.max_games_per_client)
		return done(refuse(429, "too many open games from this address; finish one first"));
	if (store.games.size() >= store.max_games)
		drop_finished(store);
	g->dir = store.root / ("game-" + std::to_string(++store.folders_made));
	std::error_code error;
	if (!fs::create_directory(g->dir, error))
		return done(refuse(500, "cannot make the game's folder"));
	store.games.emplace(g->id, g);
	++store.open_games;
	++store.games_of[client];
	json body = state_of(*g);
	body["places"] = card_count;
	done(reply_json(201, body));
}

void show_game(game_store &store, const std::string &id, const reply_sink &done)
{
	const std::lock_guard<std::mutex> hold(store.lock);
	const std::shared_ptr<web_game> g = find_game(store, id);
	if (!g)
		return done(refuse(404, "no such game"));
	done(reply_json(200, state_of(*g)));
}

void flip_card(game_store &store, const std::string &id, const std::string &body,
	       const reply_sink &done)
{
	std::vector<int> places;
	failure wrong;
	if (!read_places(body, {"place"}, places, wrong))
		return done(refuse(400, wrong.reason));
	const int place = places[0];
	std::unique_lock<std::mutex> hold(store.lock);
	const std::shared_ptr<web_game> g = find_game(store, id);
	if (!g)
		return done(refuse(404, "no such game"));
	if (g->pending < 0) {
		const std::string refusal = card_refusal(*g, place);
		if (!refusal.empty())
			return done(refuse(409, refusal));
		g->pending = place;
		return done(reply_json(200, {{"place", place}, {"value", value_at(*g, place)}}));
	}
	if (place == g->pending)
		return done(refuse(409, "that card is already face up"));
	const std::string refusal = refusal_of(*g, g->pending, place);
	if (!refusal.empty())
		return done(refuse(409, refusal));
	claim_move(store, *g);
	const int first = g->pending;
	hold.unlock();
	judge_move(store, g, first, place, done);
}

void make_move(game_store &store, const std::string &id, const std::string &body,
	       const reply_sink &done)
{
	std::vector<int> places;
	failure wrong;
	if (!read_places(body, {"first", "second"}, places, wrong))
		return done(refuse(400, wrong.reason));
	std::unique_lock<std::mutex> hold(store.lock);
	const std::shared_ptr<web_game> g = find_game(store, id);
	if (!g)
		return done(refuse(404, "no such game"));
	if (g->pending >= 0)
		return done(refuse(409, "a card is face up: turn the move's second card"));
	const std::string refusal = refusal_of(*g, places[0], places[1]);
	if (!refusal.empty())
		return done(refuse(409, refusal));
	claim_move(store, *g);
	hold.unlock();
	judge_move(store, g, places[0], places[1], done);
}

void end_idle_games(game_store &store)
{
	const auto now = steady_clock::now();
	const std::lock_guard<std::mutex> hold(store.lock);
	for (auto at = store.games.begin(); at != store.games.end();) {
		web_game &g = *at->second;
		const bool unplayed = g.moves == 0 && now - g.made >= store.unplayed_limit;
		const bool idle = now - g.last_move >= store.idle_limit;
		if (g.judging || !(unplayed || idle)) {
			++at;
			continue;
		}
		if (g.pairs_left > 0)
			close_game(store, g);
		g.ended = true;
		at = store.games.erase(at);
	}
}

void end_all_games(game_store &store)
{
	const std::lock_guard<std::mutex> hold(store.lock);
	for (const auto &entry : store.games) {
		entry.second->ended = true;
		remove_folder(entry.second->dir);
	}
	store.games.clear();
	store.games_of.clear();
	store.open_games = 0;
}
