#include "games.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdint>
#include <iterator>
#include <nlohmann/json.hpp>
#include "text.h"
#include <system_error>
#include <utility>
#include <vector>

using nlohmann::json;
namespace fs = std::filesystem;

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

json found_cards(const web_game &g)
{
	json found = json::object();
	for (int p = 0; p < card_count; ++p) {
		if (g.found[static_cast<std::size_t>(p)])
			found[std::to_string(p)] = card_value(g.deal[static_cast<std::size_t>(p)]);
	}
	return found;
}

json state_of(const web_game &g)
{
	return {{"game", g.id},
		{"moves", g.moves},
		{"pairs_left", g.pairs_left},
		{"finished", g.pairs_left == 0}};
}

std::shared_ptr<web_game> find_game(game_store &store, const std::string &id)
{
	const std::lock_guard<std::mutex> hold(store.lock);
	const auto at = store.games.find(id);
	return at == store.games.end() ? nullptr : at->second;
}

bool said(failure &wrong, const std::string &reason)
{
	wrong = {reason};
	return false;
}

// Reads a JSON object holding exactly the named fields, each a place 0 to 15,
// or says what is wrong with the body.
bool read_places(const std::string &body, const std::vector<const char *> &names,
		 std::vector<int> &places, failure &wrong)
{
	const json request = json::parse(body, nullptr, false);
	if (request.is_discarded() || !request.is_object())
		return said(wrong, "the body is not a JSON object");
	if (request.size() != names.size())
		return said(wrong, "the body must hold exactly the fields it names");
	for (const char *name : names) {
		const auto field = request.find(name);
		if (field == request.end())
			return said(wrong, std::string("missing field: ") + name);
		if (!field->is_number_integer())
			return said(wrong, std::string(name) + " is not an integer");
		const bool on_board = field->is_number_unsigned()
					      ? field->get<std::uint64_t>() < card_count
					      : field->get<std::int64_t>() >= 0 &&
							field->get<std::int64_t>() < card_count;
		if (!on_board)
			return said(wrong, std::string(name) + " is not a place from 0 to 15");
		places.push_back(field->get<int>());
	}
	return true;
}

void remove_folder(const fs::path &dir)
{
	std::error_code ignored;
	fs::remove_all(dir, ignored);
}

// Counts the game as no longer open and removes its folder. Its lock is held.
void finish_game(game_store &store, const web_game &g)
{
	remove_folder(g.dir);
	const std::lock_guard<std::mutex> hold(store.lock);
	if (store.open_games > 0) // all games end at once at shutdown
		--store.open_games;
}

// Drops the finished games from the store, whose lock is held.
void drop_finished(game_store &store)
{
	for (auto at = store.games.begin(); at != store.games.end();) {
		std::unique_lock<std::mutex> turn(at->second->turn, std::try_to_lock);
		const bool finished = turn.owns_lock() && at->second->pairs_left == 0;
		if (finished)
			at->second->ended = true;
		if (turn.owns_lock())
			turn.unlock(); // before the game may go with its mutex
		at = finished ? store.games.erase(at) : std::next(at);
	}
}

// Makes the game's folder and puts the game in the store, unless it is full.
api_reply open_game(game_store &store, const std::shared_ptr<web_game> &g)
{
	const std::lock_guard<std::mutex> hold(store.lock);
	if (store.open_games >= store.max_games)
		return refuse(503, "too many games are open; try again later");
	if (store.games.size() >= store.max_games)
		drop_finished(store);
	g->dir = store.root / ("game-" + std::to_string(++store.folders_made));
	std::error_code error;
	if (!fs::create_directory(g->dir, error))
		return refuse(500, "cannot make the game's folder: " + error.message());
	store.games.emplace(g->id, g);
	++store.open_games;
	return {};
}

} // namespace

std::string error_body(const std::string &message)
{
	return json{{"error", message}}.dump(-1, ' ', false, json::error_handler_t::replace);
}

api_reply create_game(game_store &store)
{
	auto g = std::make_shared<web_game>();
	std::uint64_t seed = 0;
	if (!new_id(g->id, seed))
		return refuse(500, "the system's random source failed");
	g->deal = deal_cards(seed);
	g->used = std::chrono::steady_clock::now();
	api_reply opened = open_game(store, g);
	if (opened.status != 200)
		return opened;
	json body = state_of(*g);
	body["places"] = card_count;
	return reply_json(201, body);
}

api_reply show_game(game_store &store, const std::string &id)
{
	const std::shared_ptr<web_game> g = find_game(store, id);
	if (!g)
		return refuse(404, "no such game");
	const std::lock_guard<std::mutex> turn(g->turn);
	if (g->ended) // ended while this request awaited its turn
		return refuse(404, "no such game");
	json body = state_of(*g);
	body["found"] = found_cards(*g);
	return reply_json(200, body);
}

api_reply flip_card(game_store &store, const std::string &id, const std::string &body)
{
	const std::shared_ptr<web_game> g = find_game(store, id);
	if (!g)
		return refuse(404, "no such game");
	std::vector<int> places;
	failure wrong;
	if (!read_places(body, {"place"}, places, wrong))
		return refuse(400, wrong.reason);
	const std::lock_guard<std::mutex> turn(g->turn);
	if (g->ended) // ended while this request awaited its turn
		return refuse(404, "no such game");
	g->used = std::chrono::steady_clock::now();
	const int value = card_value(g->deal[static_cast<std::size_t>(places[0])]);
	return reply_json(200, {{"place", places[0]}, {"value", value}});
}

api_reply make_move(game_store &store, const std::string &id, const std::string &body)
{
	const std::shared_ptr<web_game> g = find_game(store, id);
	if (!g)
		return refuse(404, "no such game");
	std::vector<int> places;
	failure wrong;
	if (!read_places(body, {"first", "second"}, places, wrong))
		return refuse(400, wrong.reason);
	const auto first = static_cast<std::size_t>(places[0]);
	const auto second = static_cast<std::size_t>(places[1]);
	if (first == second)
		return refuse(409, "the same place twice");
	const std::lock_guard<std::mutex> turn(g->turn);
	if (g->ended) // ended while this request awaited its turn
		return refuse(404, "no such game");
	if (g->found[first] || g->found[second])
		return refuse(409, "a card already found");
	g->used = std::chrono::steady_clock::now();
	judgement judged;
	failure why;
	if (!ask_memoria(store.judge, g->dir, g->deal[first], g->deal[second], judged, why))
		return refuse(502, why.reason);
	const int verdict = judged.verdict;
	++g->moves;
	if (verdict == 1) {
		g->found[first] = g->found[second] = true;
		if (--g->pairs_left == 0)
			finish_game(store, *g);
	}
	json reply = state_of(*g);
	reply.erase("game");
	reply["first"] = places[0];
	reply["second"] = places[1];
	reply["values"] = {card_value(g->deal[first]), card_value(g->deal[second])};
	reply["verdict"] = verdict;
	reply["message"] = utf8_from_cp1252(judged.message);
	return reply_json(200, reply);
}

void end_idle_games(game_store &store)
{
	const auto now = std::chrono::steady_clock::now();
	const std::lock_guard<std::mutex> hold(store.lock);
	for (auto at = store.games.begin(); at != store.games.end();) {
		web_game &g = *at->second;
		std::unique_lock<std::mutex> turn(g.turn, std::try_to_lock);
		if (!turn.owns_lock() || now - g.used < store.idle_limit) {
			++at;
			continue;
		}
		if (g.pairs_left > 0) {
			remove_folder(g.dir);
			--store.open_games;
		}
		g.ended = true;
		turn.unlock();
		at = store.games.erase(at);
	}
}

void end_all_games(game_store &store)
{
	std::map<std::string, std::shared_ptr<web_game>> ending;
	{
		const std::lock_guard<std::mutex> hold(store.lock);
		ending.swap(store.games);
		store.open_games = 0;
	}
	// A move still being judged ends first.
	for (auto &entry : ending) {
		const std::lock_guard<std::mutex> turn(entry.second->turn);
		entry.second->ended = true;
		remove_folder(entry.second->dir);
	}
}
