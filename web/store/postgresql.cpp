// The store on PostgreSQL, through libpq: several servers share one
// database, so any of them can answer for any game. Every wait is bounded:
// connecting by connect_timeout, every statement by statement_timeout.
#include <libpq-fe.h>

#include <cstdlib>

#include "listener.h"
#include "sql.h"

namespace {

constexpr const char *connect_timeout_s = "5";
constexpr const char *statement_timeout = "SET statement_timeout = 5000";
// The key of the advisory lock that stands for the whole store.
constexpr const char *store_lock = "SELECT pg_advisory_xact_lock(4242170001)";

std::string first_line(const char *text)
{
	std::string line = text == nullptr ? "" : text;
	const auto end = line.find('\n');
	return end == std::string::npos ? line : line.substr(0, end);
}

class postgresql_connection final : public sql_connection {
public:
	explicit postgresql_connection(PGconn *db) : db_(db) {}
	~postgresql_connection() override { PQfinish(db_); }
	postgresql_connection(const postgresql_connection &) = delete;
	postgresql_connection &operator=(const postgresql_connection &) = delete;

	bool run(const std::string &statement, const std::vector<sql_param> &params, sql_rows *rows,
		 failure &why) override
	{
		std::vector<std::string> texts;
		texts.reserve(params.size());
		for (const sql_param &p : params)
			texts.push_back(std::holds_alternative<std::int64_t>(p)
						? std::to_string(std::get<std::int64_t>(p))
						: std::get<std::string>(p));
		std::vector<const char *> values;
		values.reserve(texts.size());
		for (const std::string &t : texts)
			values.push_back(t.c_str());
		PGresult *result =
			PQexecParams(db_, statement.c_str(), static_cast<int>(values.size()),
				     nullptr, values.data(), nullptr, nullptr, 0);
		const ExecStatusType status = PQresultStatus(result);
		const bool ok = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
		if (!ok)
			why = {"the store: " + first_line(PQerrorMessage(db_))};
		changed_ = ok ? std::strtoll(PQcmdTuples(result), nullptr, 10) : 0;
		for (int r = 0; ok && rows != nullptr && r < PQntuples(result); ++r) {
			sql_row &row = rows->emplace_back();
			for (int c = 0; c < PQnfields(result); ++c)
				row.emplace_back(PQgetvalue(result, r, c));
		}
		PQclear(result);
		return ok;
	}

	bool begin_writing(failure &why) override { return run("BEGIN", {}, nullptr, why); }

	bool lock_store(failure &why) override { return run(store_lock, {}, nullptr, why); }

	std::int64_t changed_rows() override { return changed_; }

	bool notify(const std::string &payload, failure &why) override
	{
		return run("SELECT pg_notify('" + std::string(change_channel) + "', $1)", {payload},
			   nullptr, why);
	}

private:
	PGconn *db_;
	std::int64_t changed_ = 0;
};

} // namespace

std::unique_ptr<sql_connection> connect_postgresql(const std::string &uri, failure &why)
{
	// The URI's own settings come last and win over the timeout given here.
	const char *keys[] = {"connect_timeout", "dbname", nullptr};
	const char *values[] = {connect_timeout_s, uri.c_str(), nullptr};
	PGconn *db = PQconnectdbParams(keys, values, 1);
	if (db == nullptr || PQstatus(db) != CONNECTION_OK) {
		why = {"cannot reach the store: " + (db == nullptr
							     ? std::string("out of memory")
							     : first_line(PQerrorMessage(db)))};
		PQfinish(db);
		return nullptr;
	}
	auto connection = std::make_unique<postgresql_connection>(db);
	if (!connection->run(statement_timeout, {}, nullptr, why) ||
	    !connection->run("SET client_min_messages = warning", {}, nullptr, why))
		return nullptr;
	return connection;
}
