// What the store asks of a database: statements with numbered parameters
// ($1, $2, ...) and rows of text back, in transactions. SQLite and
// PostgreSQL each give one of these; the store's SQL is written once, in
// the part of SQL that both read alike.
#ifndef MEMORIA_WEB_STORE_SQL_H
#define MEMORIA_WEB_STORE_SQL_H

#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "failure.h"

using sql_param = std::variant<std::int64_t, std::string>;
using sql_row = std::vector<std::string>; // NULL reads as ""
using sql_rows = std::vector<sql_row>;

class sql_connection {
public:
	virtual ~sql_connection() = default;
	// Runs one statement; rows, when given, receives what it returns.
	virtual bool run(const std::string &statement, const std::vector<sql_param> &params,
			 sql_rows *rows, failure &why) = 0;
	// Starts a transaction that will write: SQLite takes its one writer's
	// lock here, so that a transaction never fails half-way for want of it.
	virtual bool begin_writing(failure &why) = 0;
	// Within a transaction, waits until no other transaction anywhere holds
	// the store's lock, for changes that read then write across games (the
	// caps, the schema). SQLite's writer already holds it.
	virtual bool lock_store(failure &why) = 0;
	// The rows that the last statement changed.
	virtual std::int64_t changed_rows() = 0;
	// Within a transaction, tells every server listening for changes
	// (listener.h) once it commits; nothing on SQLite, served by one server.
	virtual bool notify(const std::string &payload, failure &why) = 0;
};

// A connection to the database that `where` names: a postgresql:// or
// postgres:// URI, or else the path of a SQLite file, made if missing.
std::unique_ptr<sql_connection> connect_sql(const std::string &where, failure &why);

bool is_postgresql(const std::string &where);

// The two back ends, behind connect_sql.
std::unique_ptr<sql_connection> connect_sqlite(const std::string &path, failure &why);
std::unique_ptr<sql_connection> connect_postgresql(const std::string &uri, failure &why);

#endif
