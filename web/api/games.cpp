#include "games.h"

#include <sys/random.h>

#include <algorithm>
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

// A 128-bit random secret in lower-case hexadecimal: a seat's token or an
// invitation.
bool new_secret(std::string &secret)
{
	std::uint64_t unused = 0;
	return new_id(secret, unused);
}

// Compares secrets in a time that does not tell how much of them matched.
bool same_secret(const std::string &a, const std::string &b)
{
	if (a.size() != b.size() || a.empty())
		return false;
	unsigned char differ = 0;
	for (std::size_t i = 0; i < a.size(); ++i)
		differ |= static_cast<unsigned char>(a[i] ^ b[i]);
	return differ == 0;
}

// The seat whose token a request carries, or -1.
int seat_of(const stored_game &g, const std::string &token)
{
	for (std::size_t i = 0; i < g.seats.size(); ++i) {
		if (same_secret(g.seats[i], token))
			return static_cast<int>(i);
	}
	return -1;
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

// For a game on several devices, which seats are taken; else null.
json seats_of(const stored_game &g)
{
	if (g.seats.empty())
		return nullptr;
	json taken = json::array();
	for (const std::string &token : g.seats)
		taken.push_back(!token.empty());
	return taken;
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
		{"winners", winners},
		{"seats", seats_of(s)},
		{"paused", s.paused_since_ms > 0},
		{"time_ms", finished(g) ? json(playing_ms(s, s.changed_ms)) : json(nullptr)}};
}

// The kind of game that bests are kept for: alone, or one person against
// one computer player (by its level); none for the others.
std::string kind_of(const game &g, bool devices)
{
	if (devices)
		return "";
	if (g.players.size() == 1)
		return "alone";
	if (g.players.size() == 2 && g.players[0].computer == computer_level::none &&
	    g.players[1].computer != computer_level::none)
		return level_name(g.players[1].computer);
	return "";
}

// A browser's ID as it sends it: 32 lower-case hexadecimal digits, or none.
std::string browser_id(const std::string &sent)
{
	const bool hex = sent.size() == 32 &&
			 sent.find_first_not_of("0123456789abcdef") == std::string::npos;
	return hex ? sent : "";
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

// The time of a change, and of the game's start if it is its first.
void stamp(stored_game &after)
{
	after.changed_ms = unix_ms();
	if (after.started_ms == 0)
		after.started_ms = after.changed_ms;
}

// Keeps a change (its game stamped), or, when another came first, answers as for a stale one.
api_reply keep(game_service &s, const stored_game &before, stored_game after, stored_change change,
	       const json &answer, const asked &a)
{
	after.version = before.version + 1;
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
	if (kept && s.changed)
		s.changed(after.id, change.answer);
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
	stamp(after);
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

std::string change_message(const std::string &id, const std::string &answer)
{
	return R"({"type":"change","game":")" + id + R"(","answer":)" + answer + "}";
}

std::string error_body(const std::string &message)
{
	return json_text({{"error", message}});
}

std::int64_t unix_ms()
{
	using namespace std::chrono;
	return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

api_reply create_game(game_service &s, const std::string &client, const std::string &body,
		      const std::string &browser)
{
	stored_game g;
	failure wrong;
	bool devices = false;
	if (!read_players(body, g.play.players, devices, wrong))
		return refuse(400, wrong.reason);
	std::uint64_t seed = 0;
	std::string token;
	if (!new_id(g.id, seed) || (devices && (!new_secret(token) || !new_secret(g.invite))))
		return refuse(500, "the system's random source failed");
	if (devices)
		g.seats = {token, ""};
	g.browser = browser_id(browser);
	g.kind = kind_of(g.play, devices);
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
	if (devices) {
		// The one time the creator's token and the invitation are shown.
		answer["you"] = 0;
		answer["token"] = token;
		answer["invite"] = g.invite;
	}
	return {201, json_text(answer)};
}

api_reply show_game(game_service &s, const std::string &id, const std::string &token)
{
	stored_game g;
	api_reply refusal;
	if (!find_game(s, id, g, refusal))
		return refusal;
	json state = state_of(g);
	const int seat = seat_of(g, token);
	if (seat >= 0)
		state["you"] = seat;
	return {200, json_text(state)};
}

api_reply take_seat(game_service &s, const std::string &id, const std::string &invite)
{
	stored_game g;
	api_reply refusal;
	if (!find_game(s, id, g, refusal))
		return refusal;
	std::string token;
	if (!new_secret(token))
		return refuse(500, "the system's random source failed");
	bool taken = false;
	failure why;
	if (!s.store->take_seat(id, invite, 1, token, taken, why))
		return store_failed(why);
	if (!taken)
		return refuse(403, "that invitation holds no free seat");
	g.seats[1] = token;
	g.invite.clear();
	json state = state_of(g);
	state["you"] = 1;
	state["token"] = token;
	// The other device hears that its friend has come.
	if (s.changed)
		s.changed(
			id,
			json_text({{"seated", 1}, {"seats", seats_of(g)}, {"version", g.version}}));
	return {200, json_text(state)};
}

namespace {

// Turns the card at a place: the first of a move, shown at once, or the
// second, judged with the first.
api_reply turn_card(game_service &s, const stored_game &g, int place, const asked &a)
{
	const std::string refused = flip_refusal(g.play, place);
	if (!refused.empty())
		return refuse(409, refused);
	if (g.play.pending < 0) {
		stored_game after = g;
		after.play.pending = place;
		stamp(after);
		return keep(s, g, after, {0, place, -1, -1, "", ""},
			    {{"place", place}, {"value", value_at(g.play, place)}}, a);
	}
	return judge_and_keep(s, g, g.play.pending, place, a);
}

// The game for a request of a person, or the reply that refuses it.
bool persons_game(game_service &s, const std::string &id, const std::string &token,
		  std::int64_t version, const asked &a, stored_game &g, api_reply &refusal)
{
	if (!find_game(s, id, g, refusal))
		return false;
	const int seat = seat_of(g, token);
	if (!g.seats.empty() && seat < 0)
		refusal = refuse(403, "this device holds no seat in the game");
	else if (version >= 0 && version != g.version)
		refusal = stale(s, g, version, a);
	else if (!g.seats.empty() && seat != g.play.turn && !finished(g.play))
		refusal = refuse(403, "it is the other player's turn");
	else if (std::any_of(g.seats.begin(), g.seats.end(),
			     [](const std::string &t) { return t.empty(); }))
		refusal = refuse(409, "the other seat is not taken yet");
	else if (computers_turn(g.play) && !finished(g.play))
		refusal = refuse(409, "it is the computer's turn");
	else if (g.paused_since_ms > 0)
		refusal = refuse(409, "the game is paused");
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

api_reply flip_card(game_service &s, const std::string &id, const std::string &body,
		    const std::string &token)
{
	std::vector<int> places;
	std::int64_t version = -1;
	failure wrong;
	if (!read_places(body, {"place"}, places, version, wrong))
		return refuse(400, wrong.reason);
	const asked a{same_flip, places[0], -1};
	stored_game g;
	api_reply refusal;
	return persons_game(s, id, token, version, a, g, refusal) ? turn_card(s, g, places[0], a)
								  : refusal;
}

api_reply make_move(game_service &s, const std::string &id, const std::string &body,
		    const std::string &token)
{
	std::vector<int> places;
	std::int64_t version = -1;
	failure wrong;
	if (!read_places(body, {"first", "second"}, places, version, wrong))
		return refuse(400, wrong.reason);
	const asked a{same_move, places[0], places[1]};
	stored_game g;
	api_reply refusal;
	if (!persons_game(s, id, token, version, a, g, refusal))
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

api_reply pause_game(game_service &s, const std::string &id, bool paused)
{
	stored_game g;
	api_reply refusal;
	if (!find_game(s, id, g, refusal))
		return refusal;
	if (g.kind != "alone")
		return refuse(409, "only a game alone can be paused");
	bool done = false;
	failure why;
	if (!s.store->set_paused(id, paused, unix_ms(), done, why))
		return store_failed(why);
	if (!done)
		return refuse(409, paused ? "the game is not under way, or paused already"
					  : "the game is not paused");
	return show_game(s, id, "");
}

api_reply show_bests(game_service &s, const std::string &browser)
{
	std::vector<best_scores> bests;
	failure why;
	const std::string id = browser_id(browser);
	if (id.empty())
		return refuse(400, "X-Memoria-Browser is not a browser's ID");
	if (!s.store->bests(id, bests, why))
		return store_failed(why);
	json list = json::array();
	for (const best_scores &b : bests)
		list.push_back({{"kind", b.kind},
				{"games", b.games},
				{"fewest_moves", b.fewest_moves},
				{"shortest_ms", b.shortest_ms},
				{"wins", b.wins}});
	return {200, json_text({{"bests", list}})};
}
