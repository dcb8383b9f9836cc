#include "sql.h"

bool is_postgresql(const std::string &where)
{
	return where.rfind("postgresql://", 0) == 0 || where.rfind("postgres://", 0) == 0;
}

std::unique_ptr<sql_connection> connect_sql(const std::string &where, failure &why)
{
	return is_postgresql(where) ? connect_postgresql(where, why) : connect_sqlite(where, why);
}
