#include "games.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdint>
#include <iostream>
#include <nlohmann/json.hpp>
#include <system_error>
#include <utility>
#include <vector>

#include "body.h"
#include "files.h"
#include "text.h"

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

std::string json_text(const json &body)
{
	return body.dump(-1, ' ', false, json::error_handler_t::replace);
}

api_reply refuse(int status, const std::string &message)
{
	return {status, error_body(message)};
}

// The store failed: the operator reads why, the player is asked to retry.
api_reply store_failed(const failure &why)
{
	std::cerr << "jogar-web: " << why.reason << "\n";
	return refuse(503, "the games cannot be reached just now; try again");
}

int value_at(const stored_game &g, int place)
{
	return card_value(g.deal[static_cast<std::size_t>(place)]);
}

// The state a player may see: never a face that no move has shown.
json state_of(const stored_game &g)
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
		{"version", g.version},
		{"moves", g.moves},
		{"pairs_left", g.pairs_left},
		{"finished", g.pairs_left == 0},
		{"found", found},
		{"pending", pending}};
}

// Why the card at a place cannot be turned now, or an empty string.
std::string card_refusal(const stored_game &g, int place)
{
	if (g.pairs_left == 0)
		return "the game is over";
	if (g.found[static_cast<std::size_t>(place)])
		return "a card already found";
	return "";
}

// Why a move of these places cannot be judged now, or an empty string.
std::string refusal_of(const stored_game &g, int first, int second)
{
	if (first == second)
		return "the same card twice";
	const std::string refusal = card_refusal(g, first);
	return refusal.empty() ? card_refusal(g, second) : refusal;
}

// Whether a change kept in the log is the one a request asks for again.
using same_change = bool (*)(const stored_change &, int, int);

bool same_flip(const stored_change &c, int place, int /*unused*/)
{
	return c.second < 0 ? c.first == place : c.second == place;
}

bool same_move(const stored_change &c, int first, int second)
{
	return c.first == first && c.second == second;
}

struct asked {
	same_change same;
	int first;
	int second;
};

// A request made from a version the game has left: the answer already given
// when it repeats the change made at that version, else a 409 with the game
// as it is now.
api_reply stale(game_service &s, const stored_game &now, std::int64_t seen, const asked &a)
{
	stored_change change;
	bool exists = false;
	failure why;
	if (seen < now.version && !s.store->load_change(now.id, seen, change, exists, why))
		return store_failed(why);
	if (seen < now.version && exists && a.same(change, a.first, a.second))
		return {200, change.answer};
	return {409, json_text({{"error", "the game has changed since that version"},
				{"state", state_of(now)}})};
}

// Keeps a change, or, when another came first, answers as for a stale one.
api_reply keep(game_service &s, const stored_game &before, stored_game after, stored_change change,
	       const json &answer, const asked &a)
{
	after.version = before.version + 1;
	after.changed_ms = unix_ms();
	json body = answer;
	body["version"] = after.version;
	change.version = before.version;
	change.answer = json_text(body);
	bool kept = false;
	bool exists = false;
	failure why;
	if (!s.store->keep_change(after, change, kept, why))
		return store_failed(why);
	if (kept)
		return {200, change.answer};
	stored_game now;
	if (!s.store->load(before.id, now, exists, why))
		return store_failed(why);
	return exists ? stale(s, now, before.version, a) : refuse(404, "no such game");
}

// memoria judges the move in a folder of its own, removed after it.
bool judge(game_service &s, const stored_game &g, int first, int second, judgement &judged,
	   failure &why)
{
	fs::path dir;
	if (!make_scratch_folder((s.scratch / "move").string(), dir, why))
		return false;
	const bool ruled = ask_memoria(s.judge, dir, g.deal[static_cast<std::size_t>(first)],
				       g.deal[static_cast<std::size_t>(second)], judged, why);
	std::error_code ignored;
	fs::remove_all(dir, ignored);
	return ruled;
}

api_reply judge_and_keep(game_service &s, const stored_game &g, int first, int second,
			 const asked &a)
{
	judgement judged;
	failure why;
	if (!judge(s, g, first, second, judged, why)) {
		// The reason names board positions, which give the faces away:
		// the operator reads it, the player does not.
		std::cerr << "jogar-web: game " << g.id << ": " << why.reason << "\n";
		return judged.timed_out
			       ? refuse(504, "the judge took too long; the move was not counted")
			       : refuse(502, "the judge failed; the move was not counted");
	}
	stored_game after = g;
	++after.moves;
	after.pending = -1;
	if (judged.verdict == 1) {
		after.found[static_cast<std::size_t>(first)] = true;
		after.found[static_cast<std::size_t>(second)] = true;
		--after.pairs_left;
	}
	const std::string message = utf8_from_cp1252(judged.message);
	json answer = state_of(after);
	answer.erase("game");
	answer["first"] = first;
	answer["second"] = second;
	answer["values"] = {value_at(g, first), value_at(g, second)};
	answer["verdict"] = judged.verdict;
	answer["message"] = message;
	return keep(s, g, after, {0, first, second, judged.verdict, message, ""}, answer, a);
}

// The game a request names, or the reply that says why there is none.
bool find_game(game_service &s, const std::string &id, stored_game &g, api_reply &refusal)
{
	bool exists = false;
	failure why;
	if (!s.store->load(id, g, exists, why))
		refusal = store_failed(why);
	else if (!exists)
		refusal = refuse(404, "no such game");
	return exists;
}

} // namespace

std::string error_body(const std::string &message)
{
	return json_text({{"error", message}});
}

std::int64_t unix_ms()
{
	using namespace std::chrono;
	return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

api_reply create_game(game_service &s, const std::string &client)
{
	stored_game g;
	std::uint64_t seed = 0;
	if (!new_id(g.id, seed))
		return refuse(500, "the system's random source failed");
	g.deal = deal_cards(seed);
	g.owner = client;
	g.made_ms = g.changed_ms = unix_ms();
	const store_caps caps{g.made_ms - std::chrono::milliseconds(s.open_for).count(),
			      s.max_games, s.max_games_per_client};
	creation made = creation::made;
	failure why;
	if (!s.store->create(g, caps, made, why))
		return store_failed(why);
	if (made == creation::store_full)
		return refuse(503, "too many games are open; try again later");
	if (made == creation::client_full)
		return refuse(429, "too many open games from this address; finish one first");
	json body = state_of(g);
	body["places"] = card_count;
	return {201, json_text(body)};
}

api_reply show_game(game_service &s, const std::string &id)
{
	stored_game g;
	api_reply refusal;
	return find_game(s, id, g, refusal) ? api_reply{200, json_text(state_of(g))} : refusal;
}

api_reply flip_card(game_service &s, const std::string &id, const std::string &body)
{
	std::vector<int> places;
	std::int64_t version = -1;
	failure wrong;
	if (!read_places(body, {"place"}, places, version, wrong))
		return refuse(400, wrong.reason);
	const int place = places[0];
	stored_game g;
	api_reply refusal;
	if (!find_game(s, id, g, refusal))
		return refusal;
	const asked a{same_flip, place, -1};
	if (version >= 0 && version != g.version)
		return stale(s, g, version, a);
	if (g.pending < 0) {
		const std::string refused = card_refusal(g, place);
		if (!refused.empty())
			return refuse(409, refused);
		stored_game after = g;
		after.pending = place;
		return keep(s, g, after, {0, place, -1, -1, "", ""},
			    {{"place", place}, {"value", value_at(g, place)}}, a);
	}
	if (place == g.pending)
		return refuse(409, "that card is already face up");
	const std::string refused = refusal_of(g, g.pending, place);
	if (!refused.empty())
		return refuse(409, refused);
	return judge_and_keep(s, g, g.pending, place, a);
}

api_reply make_move(game_service &s, const std::string &id, const std::string &body)
{
	std::vector<int> places;
	std::int64_t version = -1;
	failure wrong;
	if (!read_places(body, {"first", "second"}, places, version, wrong))
		return refuse(400, wrong.reason);
	stored_game g;
	api_reply refusal;
	if (!find_game(s, id, g, refusal))
		return refusal;
	const asked a{same_move, places[0], places[1]};
	if (version >= 0 && version != g.version)
		return stale(s, g, version, a);
	if (g.pending >= 0)
		return refuse(409, "a card is face up: turn the move's second card");
	const std::string refused = refusal_of(g, places[0], places[1]);
	if (!refused.empty())
		return refuse(409, refused);
	return judge_and_keep(s, g, places[0], places[1], a);
}
