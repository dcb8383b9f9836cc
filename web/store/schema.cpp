#include "schema.h"

#include <string>
#include <vector>

namespace {

// Step n brings the store from version n - 1 to n. A step once released is
// never changed: a change to the tables is a new step.
const std::vector<std::vector<const char *>> &steps()
{
	static const std::vector<std::vector<const char *>> all = {
		{
			"CREATE TABLE games ("
			" id TEXT PRIMARY KEY,"
			" owner TEXT NOT NULL,"
			" deal TEXT NOT NULL,"
			" made_ms BIGINT NOT NULL,"
			" changed_ms BIGINT NOT NULL,"
			" version BIGINT NOT NULL,"
			" moves BIGINT NOT NULL,"
			" pairs_left BIGINT NOT NULL,"
			" found BIGINT NOT NULL,"
			" pending BIGINT NOT NULL,"
			" finished BIGINT NOT NULL)",
			"CREATE INDEX games_open ON games (finished, changed_ms)",
			"CREATE INDEX games_open_of ON games (owner, finished, changed_ms)",
			"CREATE TABLE changes ("
			" game TEXT NOT NULL REFERENCES games (id),"
			" version BIGINT NOT NULL,"
			" made_ms BIGINT NOT NULL,"
			" first_place BIGINT NOT NULL,"
			" second_place BIGINT NOT NULL,"
			" verdict BIGINT NOT NULL,"
			" message TEXT NOT NULL,"
			" answer TEXT NOT NULL,"
			" PRIMARY KEY (game, version))",
		},
		{
			// The players, one a line: pairs, computer level (0 for a
			// person), name; empty for a game alone from before.
			"ALTER TABLE games ADD COLUMN players TEXT NOT NULL DEFAULT ''",
			"ALTER TABLE games ADD COLUMN turn BIGINT NOT NULL DEFAULT 0",
			"ALTER TABLE changes ADD COLUMN player BIGINT NOT NULL DEFAULT 0",
		},
		{
			// A game on several devices: each player's seat token,
			// comma-separated, and the invitation to the free seat.
			"ALTER TABLE games ADD COLUMN seats TEXT NOT NULL DEFAULT ''",
			"ALTER TABLE games ADD COLUMN invite TEXT NOT NULL DEFAULT ''",
			// Scores: whose browser, what kind of game, its time.
			"ALTER TABLE games ADD COLUMN browser TEXT NOT NULL DEFAULT ''",
			"ALTER TABLE games ADD COLUMN kind TEXT NOT NULL DEFAULT ''",
			"ALTER TABLE games ADD COLUMN started_ms BIGINT NOT NULL DEFAULT 0",
			"ALTER TABLE games ADD COLUMN paused_ms BIGINT NOT NULL DEFAULT 0",
			"ALTER TABLE games ADD COLUMN paused_since_ms BIGINT NOT NULL DEFAULT 0",
			"ALTER TABLE games ADD COLUMN won BIGINT NOT NULL DEFAULT 0",
			"CREATE INDEX games_of_browser ON games (browser, finished, kind)",
		},
	};
	return all;
}

bool finish(sql_connection &db, bool done, failure &why)
{
	failure ignored;
	if (done)
		return db.run("COMMIT", {}, nullptr, why);
	db.run("ROLLBACK", {}, nullptr, ignored);
	return false;
}

// One step, if the store still lacks it, in a transaction of its own.
bool run_step(sql_connection &db, std::int64_t step, std::int64_t &version, failure &why)
{
	if (!db.begin_writing(why))
		return false;
	sql_rows rows;
	bool done = db.lock_store(why) &&
		    db.run("CREATE TABLE IF NOT EXISTS schema_version (version BIGINT NOT NULL)",
			   {}, nullptr, why) &&
		    db.run("SELECT version FROM schema_version", {}, &rows, why);
	version = rows.empty() ? 0 : std::stoll(rows[0][0]);
	if (done && rows.empty())
		done = db.run("INSERT INTO schema_version (version) VALUES (0)", {}, nullptr, why);
	if (done && version == step - 1) {
		for (const char *statement : steps()[static_cast<std::size_t>(step - 1)])
			done = done && db.run(statement, {}, nullptr, why);
		done = done &&
		       db.run("UPDATE schema_version SET version = $1", {step}, nullptr, why);
		if (done)
			version = step;
	}
	return finish(db, done, why);
}

} // namespace

std::int64_t latest_schema()
{
	return static_cast<std::int64_t>(steps().size());
}

bool upgrade_schema(sql_connection &db, std::int64_t &version, failure &why, std::int64_t last)
{
	for (std::int64_t step = 1; step <= last; ++step) {
		if (!run_step(db, step, version, why))
			return false;
	}
	if (version > latest_schema()) {
		why = {"the store is at schema version " + std::to_string(version) +
		       ", newer than this program's " + std::to_string(latest_schema())};
		return false;
	}
	return true;
}
