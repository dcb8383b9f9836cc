#include "store.h"

#include <algorithm>

#include "schema.h"

namespace {

std::string deal_text(const card_deal &deal)
{
	std::string text;
	for (const int position : deal)
		text += (text.empty() ? "" : ",") + std::to_string(position);
	return text;
}

bool read_deal(const std::string &text, card_deal &deal)
{
	std::size_t at = 0;
	for (int &position : deal) {
		if (at >= text.size())
			return false;
		position = std::stoi(text.substr(at));
		if (position < 0 || position >= card_count)
			return false;
		const std::size_t comma = text.find(',', at);
		at = comma == std::string::npos ? text.size() : comma + 1;
	}
	return at == text.size();
}

std::int64_t found_bits(const std::array<bool, card_count> &found)
{
	std::int64_t bits = 0;
	for (std::size_t p = 0; p < found.size(); ++p)
		bits |= found[p] ? std::int64_t{1} << p : 0;
	return bits;
}

// The players, one a line: "pairs level name". Names hold no line breaks
// (the API refuses control characters).
std::string players_text(const std::vector<player> &players)
{
	std::string text;
	for (const player &p : players)
		text += std::to_string(p.pairs) + " " +
			std::to_string(static_cast<int>(p.computer)) + " " + p.name + "\n";
	return text;
}

bool read_players(const std::string &text, std::vector<player> &players)
{
	players.clear();
	std::size_t at = 0;
	while (at < text.size()) {
		const std::size_t end = text.find('\n', at);
		const std::size_t first = text.find(' ', at);
		const std::size_t second =
			first == std::string::npos ? first : text.find(' ', first + 1);
		if (end == std::string::npos || second == std::string::npos || second > end)
			return false;
		const int level = std::stoi(text.substr(first + 1));
		if (level < 0 || level > 3)
			return false;
		players.push_back({text.substr(second + 1, end - second - 1),
				   static_cast<computer_level>(level), std::stoi(text.substr(at))});
		at = end + 1;
	}
	// A game from before players were kept was a game alone.
	if (players.empty())
		players.push_back(player{});
	return players.size() <= max_players;
}

std::string seats_text(const std::vector<std::string> &seats)
{
	std::string text;
	for (std::size_t i = 0; i < seats.size(); ++i)
		text += (i == 0 ? "" : ",") + seats[i];
	// One free seat alone would read as no seats at all.
	return seats.size() == 1 && seats[0].empty() ? "," : text;
}

std::vector<std::string> read_seats(const std::string &text)
{
	std::vector<std::string> seats;
	if (text.empty())
		return seats;
	std::size_t at = 0;
	for (;;) {
		const std::size_t comma = text.find(',', at);
		seats.push_back(text.substr(at, comma == std::string::npos ? comma : comma - at));
		if (comma == std::string::npos)
			return seats;
		at = comma + 1;
	}
}

// Whether the first player, the person against the computer, won alone.
bool won_alone(const game &g)
{
	return finished(g) && leaders(g) == std::vector<int>{0};
}

// A change's columns as change_of reads them, first in a row.
constexpr const char *change_columns = "version, first_place, second_place, verdict, player";

stored_change change_of(const sql_row &r)
{
	stored_change c;
	c.version = std::stoll(r[0]);
	c.first = std::stoi(r[1]);
	c.second = std::stoi(r[2]);
	c.verdict = std::stoi(r[3]);
	c.player = std::stoi(r[4]);
	return c;
}

std::int64_t count_of(const sql_rows &rows)
{
	return rows.empty() || rows[0].empty() ? 0 : std::stoll(rows[0][0]);
}

} // namespace

bool game_store::open(const std::string &where, failure &why)
{
	where_ = where;
	std::int64_t version = 0;
	return in_transaction(
		false,
		[&version](sql_connection &db, failure &w) {
			// The schema's steps make transactions of their own; this one
			// only reads what they did.
			return upgrade_schema(db, version, w);
		},
		why);
}

bool game_store::in_transaction(bool writing, const work &body, failure &why)
{
	std::unique_ptr<sql_connection> db;
	{
		const std::lock_guard<std::mutex> hold(lock_);
		if (!idle_.empty()) {
			db = std::move(idle_.back());
			idle_.pop_back();
		}
	}
	if (!db && !(db = connect_sql(where_, why)))
		return false;
	std::unique_lock<std::mutex> turn(writer_, std::defer_lock);
	if (writing && !is_postgresql(where_))
		turn.lock();
	bool done = false;
	if (!writing) {
		done = body(*db, why);
	} else if (db->begin_writing(why)) {
		done = body(*db, why) && db->run("COMMIT", {}, nullptr, why);
		failure ignored;
		if (!done)
			db->run("ROLLBACK", {}, nullptr, ignored);
	}
	// A connection that failed may be broken: the next work opens another.
	if (done) {
		const std::lock_guard<std::mutex> hold(lock_);
		idle_.push_back(std::move(db));
	}
	return done;
}

bool game_store::create(const stored_game &g, const store_caps &caps, creation &result,
			failure &why)
{
	return in_transaction(
		true,
		[&](sql_connection &db, failure &w) {
			sql_rows open_games;
			sql_rows open_of_client;
			if (!db.lock_store(w) ||
			    !db.run("SELECT COUNT(*) FROM games WHERE finished = 0 AND changed_ms "
				    ">= $1",
				    {caps.open_since_ms}, &open_games, w) ||
			    !db.run("SELECT COUNT(*) FROM games"
				    " WHERE owner = $1 AND finished = 0 AND changed_ms >= $2",
				    {g.owner, caps.open_since_ms}, &open_of_client, w))
				return false;
			result = count_of(open_games) >= caps.max_games ? creation::store_full
				 : count_of(open_of_client) >= caps.max_games_per_client
					 ? creation::client_full
					 : creation::made;
			if (result != creation::made)
				return true;
			return db.run(
				"INSERT INTO games (id, owner, deal, made_ms, changed_ms, version,"
				" moves, pairs_left, found, pending, finished, players, turn, "
				"seats,"
				" invite, browser, kind)"
				" VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13, "
				"$14,"
				" $15, $16, $17)",
				{g.id, g.owner, deal_text(g.play.deal), g.made_ms, g.changed_ms,
				 g.version, std::int64_t{g.play.moves},
				 std::int64_t{g.play.pairs_left}, found_bits(g.play.found),
				 std::int64_t{g.play.pending},
				 std::int64_t{finished(g.play) ? 1 : 0},
				 players_text(g.play.players), std::int64_t{g.play.turn},
				 seats_text(g.seats), g.invite, g.browser, g.kind},
				nullptr, w);
		},
		why);
}

bool game_store::load(const std::string &id, stored_game &g, bool &exists, failure &why)
{
	return in_transaction(
		false,
		[&](sql_connection &db, failure &w) {
			sql_rows rows;
			if (!db.run("SELECT owner, deal, made_ms, changed_ms, version, moves,"
				    " pairs_left, found, pending, players, turn, seats, invite, "
				    "browser,"
				    " kind, started_ms, paused_ms, paused_since_ms"
				    " FROM games WHERE id = $1",
				    {id}, &rows, w))
				return false;
			exists = !rows.empty();
			if (!exists)
				return true;
			const sql_row &r = rows[0];
			if (r.size() != 18) {
				w = {"the store gave a row of the wrong shape for game " + id};
				return false;
			}
			g.id = id;
			g.owner = r[0];
			game &play = g.play;
			play.turn = std::stoi(r[10]);
			if (!read_deal(r[1], play.deal) || !read_players(r[9], play.players) ||
			    play.turn < 0 || play.turn >= static_cast<int>(play.players.size())) {
				w = {"the store holds a broken game " + id};
				return false;
			}
			g.made_ms = std::stoll(r[2]);
			g.changed_ms = std::stoll(r[3]);
			g.version = std::stoll(r[4]);
			play.moves = std::stoi(r[5]);
			play.pairs_left = std::stoi(r[6]);
			const std::int64_t found = std::stoll(r[7]);
			for (std::size_t p = 0; p < play.found.size(); ++p)
				play.found[p] = ((found >> p) & 1) != 0;
			play.pending = std::stoi(r[8]);
			g.seats = read_seats(r[11]);
			g.invite = r[12];
			g.browser = r[13];
			g.kind = r[14];
			g.started_ms = std::stoll(r[15]);
			g.paused_ms = std::stoll(r[16]);
			g.paused_since_ms = std::stoll(r[17]);
			return true;
		},
		why);
}

bool game_store::read(const std::string &statement, const std::vector<sql_param> &params,
		      sql_rows &rows, failure &why)
{
	return in_transaction(
		false,
		[&](sql_connection &db, failure &w) { return db.run(statement, params, &rows, w); },
		why);
}

bool game_store::load_change(const std::string &id, std::int64_t version, stored_change &c,
			     bool &exists, failure &why)
{
	sql_rows rows;
	if (!read("SELECT " + std::string(change_columns) +
			  ", message, answer FROM changes WHERE game = $1 AND version = $2",
		  {id, version}, rows, why))
		return false;
	exists = !rows.empty();
	if (exists) {
		c = change_of(rows[0]);
		c.message = rows[0][5];
		c.answer = rows[0][6];
	}
	return true;
}

bool game_store::load_log(const std::string &id, std::vector<stored_change> &log, failure &why)
{
	sql_rows rows;
	if (!read("SELECT " + std::string(change_columns) +
			  " FROM changes WHERE game = $1 ORDER BY version",
		  {id}, rows, why))
		return false;
	log.clear();
	for (const sql_row &r : rows)
		log.push_back(change_of(r));
	return true;
}

bool game_store::keep_change(const stored_game &g, const stored_change &c, bool &kept, failure &why)
{
	return in_transaction(
		true,
		[&](sql_connection &db, failure &w) {
			const game &play = g.play;
			if (!db.run("UPDATE games SET changed_ms = $2, version = $3, moves = $4,"
				    " pairs_left = $5, found = $6, pending = $7, finished = $8,"
				    " players = $10, turn = $11, started_ms = $12, won = $13"
				    " WHERE id = $1 AND version = $9",
				    {g.id, g.changed_ms, g.version, std::int64_t{play.moves},
				     std::int64_t{play.pairs_left}, found_bits(play.found),
				     std::int64_t{play.pending},
				     std::int64_t{finished(play) ? 1 : 0}, c.version,
				     players_text(play.players), std::int64_t{play.turn},
				     g.started_ms, std::int64_t{won_alone(play) ? 1 : 0}},
				    nullptr, w))
				return false;
			kept = db.changed_rows() == 1;
			if (kept && !tag_.empty() &&
			    !db.notify(tag_ + "\n" + g.id + "\n" + c.answer, w))
				return false;
			return !kept ||
			       db.run("INSERT INTO changes (game, version, made_ms, first_place,"
				      " second_place, verdict, message, answer, player)"
				      " VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9)",
				      {g.id, c.version, g.changed_ms, std::int64_t{c.first},
				       std::int64_t{c.second}, std::int64_t{c.verdict}, c.message,
				       c.answer, std::int64_t{c.player}},
				      nullptr, w);
		},
		why);
}

bool game_store::take_seat(const std::string &id, const std::string &invite, int seat,
			   const std::string &token, bool &taken, failure &why)
{
	return in_transaction(
		true,
		[&](sql_connection &db, failure &w) {
			sql_rows rows;
			taken = false;
			if (!db.run("SELECT seats FROM games WHERE id = $1 AND invite = $2 AND"
				    " invite <> ''",
				    {id, invite}, &rows, w))
				return false;
			if (rows.empty())
				return true;
			std::vector<std::string> seats = read_seats(rows[0][0]);
			if (seat < 0 || seat >= static_cast<int>(seats.size()) ||
			    !seats[static_cast<std::size_t>(seat)].empty())
				return true;
			seats[static_cast<std::size_t>(seat)] = token;
			if (!db.run("UPDATE games SET seats = $2, invite = '' WHERE id = $1 AND"
				    " invite = $3",
				    {id, seats_text(seats), invite}, nullptr, w))
				return false;
			taken = db.changed_rows() == 1;
			return true;
		},
		why);
}

std::int64_t playing_ms(const stored_game &g, std::int64_t now_ms)
{
	if (g.started_ms == 0)
		return 0;
	const std::int64_t end = finished(g.play) ? g.changed_ms : now_ms;
	const std::int64_t pausing = g.paused_since_ms > 0 ? now_ms - g.paused_since_ms : 0;
	return std::max<std::int64_t>(0, end - g.started_ms - g.paused_ms - pausing);
}

bool game_store::set_paused(const std::string &id, bool paused, std::int64_t now_ms, bool &done,
			    failure &why)
{
	return in_transaction(
		true,
		[&](sql_connection &db, failure &w) {
			const bool ran =
				paused ? db.run("UPDATE games SET paused_since_ms = $2 WHERE id = "
						"$1"
						" AND paused_since_ms = 0 AND started_ms > 0 AND"
						" finished = 0",
						{id, now_ms}, nullptr, w)
				       : db.run("UPDATE games SET paused_ms = paused_ms + $2 -"
						" paused_since_ms, paused_since_ms = 0 WHERE id = "
						"$1"
						" AND paused_since_ms > 0",
						{id, now_ms}, nullptr, w);
			done = ran && db.changed_rows() == 1;
			return ran;
		},
		why);
}

bool game_store::bests(const std::string &browser, std::vector<best_scores> &bests, failure &why)
{
	sql_rows rows;
	if (!read("SELECT kind, COUNT(*), MIN(moves), MIN(changed_ms - started_ms - paused_ms),"
		  " SUM(won) FROM games WHERE browser = $1 AND finished = 1 AND kind <> ''"
		  " GROUP BY kind ORDER BY kind",
		  {browser}, rows, why))
		return false;
	bests.clear();
	for (const sql_row &r : rows)
		bests.push_back({r[0], std::stoll(r[1]), std::stoll(r[2]), std::stoll(r[3]),
				 std::stoll(r[4])});
	return true;
}

bool game_store::report(store_report &report, failure &why)
{
	return in_transaction(
		false,
		[&report](sql_connection &db, failure &w) {
			sql_rows version;
			sql_rows games;
			sql_rows changes;
			if (!db.run("SELECT version FROM schema_version", {}, &version, w) ||
			    !db.run("SELECT finished, COUNT(*) FROM games GROUP BY finished", {},
				    &games, w) ||
			    !db.run("SELECT COUNT(*) FROM changes", {}, &changes, w))
				return false;
			report.schema = count_of(version);
			for (const sql_row &r : games)
				(r[0] == "1" ? report.finished : report.unfinished) =
					std::stoll(r[1]);
			report.changes = count_of(changes);
			return true;
		},
		why);
}

bool game_store::tidy(std::int64_t finished_before_ms, std::int64_t idle_before_ms, int batch,
		      int &removed, failure &why)
{
	removed = 0;
	return in_transaction(
		true,
		[&](sql_connection &db, failure &w) {
			sql_rows ids;
			if (!db.run("SELECT id FROM games WHERE (finished = 1 AND changed_ms < $1)"
				    " OR (finished = 0 AND changed_ms < $2) LIMIT $3",
				    {finished_before_ms, idle_before_ms, std::int64_t{batch}}, &ids,
				    w))
				return false;
			for (const sql_row &id : ids) {
				if (!db.run("DELETE FROM changes WHERE game = $1", {id[0]}, nullptr,
					    w) ||
				    !db.run("DELETE FROM games WHERE id = $1", {id[0]}, nullptr, w))
					return false;
			}
			removed = static_cast<int>(ids.size());
			return true;
		},
		why);
}
