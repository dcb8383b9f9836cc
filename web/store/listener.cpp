#include "listener.h"

#include <libpq-fe.h>
#include <poll.h>

#include <chrono>
#include <iostream>

namespace {

// A connection that listens, or null; says why not on stderr.
PGconn *connect_listening(const std::string &uri)
{
	const char *keys[] = {"connect_timeout", "dbname", nullptr};
	const char *values[] = {"5", uri.c_str(), nullptr};
	PGconn *db = PQconnectdbParams(keys, values, 1);
	PGresult *result = nullptr;
	if (db != nullptr && PQstatus(db) == CONNECTION_OK)
		result = PQexec(db, ("LISTEN " + std::string(change_channel)).c_str());
	const bool ok = result != nullptr && PQresultStatus(result) == PGRES_COMMAND_OK;
	PQclear(result);
	if (!ok) {
		std::cerr << "jogar-web: cannot listen for other servers' changes: "
			  << (db == nullptr ? "out of memory" : PQerrorMessage(db));
		PQfinish(db);
		return nullptr;
	}
	return db;
}

} // namespace

change_listener::~change_listener()
{
	stop();
}

void change_listener::start(const std::string &uri, hearing heard)
{
	heard_ = std::move(heard);
	running_ = true;
	thread_ = std::thread([this, uri] { listen(uri); });
}

void change_listener::stop()
{
	running_ = false;
	if (thread_.joinable())
		thread_.join();
}

void change_listener::listen(const std::string &uri)
{
	while (running_) {
		PGconn *db = connect_listening(uri);
		// Waits in short steps, so that a stop is heard within 200 ms.
		while (db != nullptr && running_) {
			pollfd ready{PQsocket(db), POLLIN, 0};
			if (poll(&ready, 1, 200) < 0 || PQconsumeInput(db) == 0)
				break;
			while (PGnotify *notice = PQnotifies(db)) {
				heard_(notice->extra);
				PQfreemem(notice);
			}
		}
		PQfinish(db);
		for (int wait = 0; running_ && wait < 5; ++wait)
			std::this_thread::sleep_for(std::chrono::milliseconds(200));
	}
}
