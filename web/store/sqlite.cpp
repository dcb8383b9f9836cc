// The store on SQLite: one file, written through its write-ahead log and
// synced on every commit, so that an answered move survives a crash of the
// program or of the machine. Writers take turns: a writing transaction
// begins IMMEDIATE, waiting up to the busy timeout for the one before it.
#include <sqlite3.h>

#include <map>

#include "sql.h"

namespace {

constexpr int busy_timeout_ms = 5000;

class sqlite_connection final : public sql_connection {
public:
	explicit sqlite_connection(sqlite3 *db) : db_(db) {}
	~sqlite_connection() override
	{
		for (auto &entry : statements_)
			sqlite3_finalize(entry.second);
		sqlite3_close(db_);
	}
	sqlite_connection(const sqlite_connection &) = delete;
	sqlite_connection &operator=(const sqlite_connection &) = delete;

	bool run(const std::string &statement, const std::vector<sql_param> &params, sql_rows *rows,
		 failure &why) override
	{
		sqlite3_stmt *s = prepared(statement, why);
		if (s == nullptr || !bind(s, params, why))
			return false;
		int step = SQLITE_ROW;
		while ((step = sqlite3_step(s)) == SQLITE_ROW) {
			if (rows == nullptr)
				continue;
			sql_row &row = rows->emplace_back();
			for (int c = 0; c < sqlite3_column_count(s); ++c) {
				const unsigned char *text = sqlite3_column_text(s, c);
				row.emplace_back(text == nullptr
							 ? ""
							 : reinterpret_cast<const char *>(text));
			}
		}
		const bool done = step == SQLITE_DONE;
		if (!done)
			why = {"the store: " + std::string(sqlite3_errmsg(db_))};
		sqlite3_reset(s);
		return done;
	}

	bool begin_writing(failure &why) override
	{
		return run("BEGIN IMMEDIATE", {}, nullptr, why);
	}

	bool lock_store(failure & /*why*/) override { return true; }

	std::int64_t changed_rows() override { return sqlite3_changes(db_); }

	bool notify(const std::string & /*payload*/, failure & /*why*/) override { return true; }

private:
	// Statements are prepared once a connection and kept: the store runs
	// the same few over and over.
	sqlite3_stmt *prepared(const std::string &statement, failure &why)
	{
		const auto kept = statements_.find(statement);
		if (kept != statements_.end())
			return kept->second;
		sqlite3_stmt *s = nullptr;
		if (sqlite3_prepare_v2(db_, statement.c_str(), -1, &s, nullptr) != SQLITE_OK) {
			why = {"the store: " + std::string(sqlite3_errmsg(db_))};
			sqlite3_finalize(s);
			return nullptr;
		}
		statements_.emplace(statement, s);
		return s;
	}

	// Binds $1, $2, ... by name: SQLite numbers named parameters in the
	// order they first appear, not by the digits in their names.
	bool bind(sqlite3_stmt *s, const std::vector<sql_param> &params, failure &why)
	{
		sqlite3_clear_bindings(s);
		for (std::size_t i = 0; i < params.size(); ++i) {
			const int at = sqlite3_bind_parameter_index(
				s, ("$" + std::to_string(i + 1)).c_str());
			if (at == 0)
				continue;
			const int bound =
				std::holds_alternative<std::int64_t>(params[i])
					? sqlite3_bind_int64(s, at,
							     std::get<std::int64_t>(params[i]))
					: sqlite3_bind_text(
						  s, at, std::get<std::string>(params[i]).c_str(),
						  -1, SQLITE_TRANSIENT);
			if (bound != SQLITE_OK) {
				why = {"the store: " + std::string(sqlite3_errmsg(db_))};
				return false;
			}
		}
		return true;
	}

	sqlite3 *db_;
	std::map<std::string, sqlite3_stmt *> statements_;
};

} // namespace

std::unique_ptr<sql_connection> connect_sqlite(const std::string &path, failure &why)
{
	sqlite3 *db = nullptr;
	const int opened = sqlite3_open_v2(
		path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
		nullptr);
	if (opened != SQLITE_OK) {
		why = {"cannot open the store " + path + ": " +
		       (db == nullptr ? sqlite3_errstr(opened) : sqlite3_errmsg(db))};
		sqlite3_close(db);
		return nullptr;
	}
	auto connection = std::make_unique<sqlite_connection>(db);
	sqlite3_busy_timeout(db, busy_timeout_ms);
	sql_rows mode;
	if (!connection->run("PRAGMA journal_mode=WAL", {}, &mode, why) ||
	    !connection->run("PRAGMA synchronous=FULL", {}, nullptr, why))
		return nullptr;
	if (mode.empty() || mode[0].empty() || mode[0][0] != "wal") {
		why = {"the store " + path + " cannot keep a write-ahead log"};
		return nullptr;
	}
	return connection;
}
