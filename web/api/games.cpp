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
#include "opponent.h"
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

json players_of(const game &g)
{
	json players = json::array();
	for (const player &p : g.players) {
		json computer = nullptr;
		if (p.computer != computer_level::none)
			computer = level_name(p.computer);
		players.push_back({{"name", p.name}, {"pairs", p.pairs}, {"computer", computer}});
	}
	return players;
}

// The state a player may see: never a face that no move has shown.
json state_of(const stored_game &s)
{
	const game &g = s.play;
	json found = json::object();
	for (int p = 0; p < card_count; ++p) {
		if (g.found[static_cast<std::size_t>(p)])
			found[std::to_string(p)] = value_at(g, p);
	}
	json pending = nullptr;
	if (g.pending >= 0)
		pending = {{"place", g.pending}, {"value", value_at(g, g.pending)}};
	json winners = nullptr;
	if (finished(g))
		winners = leaders(g);
	return {{"game", s.id},
		{"version", s.version},
		{"moves", g.moves},
		{"pairs_left", g.pairs_left},
		{"finished", finished(g)},
		{"found", found},
		{"pending", pending},
		{"players", players_of(g)},
		{"turn", g.turn},
		{"winners", winners}};
}

bool computers_turn(const game &g)
{
	return g.players[static_cast<std::size_t>(g.turn)].computer != computer_level::none;
}

struct asked;
// Whether a change kept in the log is the one a request asks for again.
using same_change = bool (*)(const stored_change &, const asked &, const game &now);

struct asked {
	same_change same;
	int first;
	int second;
};

bool same_flip(const stored_change &c, const asked &a, const game & /*now*/)
{
	return c.second < 0 ? c.first == a.first : c.second == a.first;
}

bool same_move(const stored_change &c, const asked &a, const game & /*now*/)
{
	return c.first == a.first && c.second == a.second;
}

// The computer's step at a version is whatever it chose there: people
// cannot change the game on its turn.
bool same_computer_step(const stored_change &c, const asked & /*a*/, const game &now)
{
	return now.players[static_cast<std::size_t>(c.player)].computer != computer_level::none;
}

bool names_a_player(const stored_change &c, const stored_game &g)
{
	return c.player >= 0 && c.player < static_cast<int>(g.play.players.size());
}

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
	if (seen < now.version && exists && names_a_player(change, now) &&
	    a.same(change, a, now.play))
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
	change.player = before.play.turn;
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
	const bool ruled = ask_memoria(s.judge, dir, g.play.deal[static_cast<std::size_t>(first)],
				       g.play.deal[static_cast<std::size_t>(second)], judged, why);
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
	count_move(after.play, first, second, judged.verdict);
	const std::string message = utf8_from_cp1252(judged.message);
	json answer = state_of(after);
	answer.erase("game");
	answer["first"] = first;
	answer["second"] = second;
	answer["values"] = {value_at(g.play, first), value_at(g.play, second)};
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

api_reply create_game(game_service &s, const std::string &client, const std::string &body)
{
	stored_game g;
	failure wrong;
	if (!read_players(body, g.play.players, wrong))
		return refuse(400, wrong.reason);
	std::uint64_t seed = 0;
	if (!new_id(g.id, seed))
		return refuse(500, "the system's random source failed");
	g.play.deal = deal_cards(seed);
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
	json answer = state_of(g);
	answer["places"] = card_count;
	return {201, json_text(answer)};
}

api_reply show_game(game_service &s, const std::string &id)
{
	stored_game g;
	api_reply refusal;
	return find_game(s, id, g, refusal) ? api_reply{200, json_text(state_of(g))} : refusal;
}

namespace {

// Turns the card at a place: the first of a move, shown at once, or the
// second, judged with the first.
api_reply turn_card(game_service &s, const stored_game &g, int place, const asked &a)
{
	if (g.play.pending < 0) {
		const std::string refused = card_refusal(g.play, place);
		if (!refused.empty())
			return refuse(409, refused);
		stored_game after = g;
		after.play.pending = place;
		return keep(s, g, after, {0, place, -1, -1, "", ""},
			    {{"place", place}, {"value", value_at(g.play, place)}}, a);
	}
	if (place == g.play.pending)
		return refuse(409, "that card is already face up");
	const std::string refused = move_refusal(g.play, g.play.pending, place);
	if (!refused.empty())
		return refuse(409, refused);
	return judge_and_keep(s, g, g.play.pending, place, a);
}

// The game for a request of a person, or the reply that refuses it.
bool persons_game(game_service &s, const std::string &id, std::int64_t version, const asked &a,
		  stored_game &g, api_reply &refusal)
{
	if (!find_game(s, id, g, refusal))
		return false;
	if (version >= 0 && version != g.version)
		refusal = stale(s, g, version, a);
	else if (computers_turn(g.play) && !finished(g.play))
		refusal = refuse(409, "it is the computer's turn");
	else
		return true;
	return false;
}

// What the computer player at the turn remembers: every face the table saw,
// in order, replayed from the log with the same lapses on every server.
bool computers_memory(game_service &s, const stored_game &g, opponent &o, failure &why)
{
	std::vector<stored_change> log;
	if (!s.store->load_log(g.id, log, why))
		return false;
	std::uint64_t seed = static_cast<std::uint64_t>(g.play.turn);
	for (const char c : g.id)
		seed = seed * 31 + static_cast<unsigned char>(c);
	o = make_opponent(g.play.players[static_cast<std::size_t>(g.play.turn)].computer, seed);
	int flipped = -1; // a move's first card, already seen when it was turned
	for (const stored_change &c : log) {
		if (c.first != flipped)
			see_card(o, c.first, value_at(g.play, c.first));
		if (c.second >= 0)
			see_card(o, c.second, value_at(g.play, c.second));
		flipped = c.second < 0 ? c.first : -1;
	}
	return true;
}

} // namespace

api_reply flip_card(game_service &s, const std::string &id, const std::string &body)
{
	std::vector<int> places;
	std::int64_t version = -1;
	failure wrong;
	if (!read_places(body, {"place"}, places, version, wrong))
		return refuse(400, wrong.reason);
	const asked a{same_flip, places[0], -1};
	stored_game g;
	api_reply refusal;
	return persons_game(s, id, version, a, g, refusal) ? turn_card(s, g, places[0], a)
							   : refusal;
}

api_reply make_move(game_service &s, const std::string &id, const std::string &body)
{
	std::vector<int> places;
	std::int64_t version = -1;
	failure wrong;
	if (!read_places(body, {"first", "second"}, places, version, wrong))
		return refuse(400, wrong.reason);
	const asked a{same_move, places[0], places[1]};
	stored_game g;
	api_reply refusal;
	if (!persons_game(s, id, version, a, g, refusal))
		return refusal;
	if (g.play.pending >= 0)
		return refuse(409, "a card is face up: turn the move's second card");
	const std::string refused = move_refusal(g.play, places[0], places[1]);
	if (!refused.empty())
		return refuse(409, refused);
	return judge_and_keep(s, g, places[0], places[1], a);
}

api_reply computer_step(game_service &s, const std::string &id, const std::string &body)
{
	std::vector<int> none;
	std::int64_t version = -1;
	failure wrong;
	if (!read_places(body, {}, none, version, wrong))
		return refuse(400, wrong.reason);
	const asked a{same_computer_step, -1, -1};
	stored_game g;
	api_reply refusal;
	if (!find_game(s, id, g, refusal))
		return refusal;
	if (version >= 0 && version != g.version)
		return stale(s, g, version, a);
	if (finished(g.play))
		return refuse(409, "the game is over");
	if (!computers_turn(g.play))
		return refuse(409, "it is not the computer's turn");
	opponent o;
	failure why;
	if (!computers_memory(s, g, o, why))
		return store_failed(why);
	const int place = g.play.pending < 0 ? choose_first(o, g.play)
					     : choose_second(o, g.play, g.play.pending);
	return turn_card(s, g, place, a);
}
