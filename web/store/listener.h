// Hearing the changes that other servers keep: on PostgreSQL each kept
// change is announced on one channel (sql_connection::notify) as the
// transaction commits, and each server listens there on a connection of
// its own, so that players of one game on two servers see each other's
// moves as they happen.
#ifndef MEMORIA_WEB_STORE_LISTENER_H
#define MEMORIA_WEB_STORE_LISTENER_H

#include <atomic>
#include <functional>
#include <string>
#include <thread>

inline constexpr const char *change_channel = "memoria_changes";

class change_listener {
public:
	using hearing = std::function<void(const std::string &payload)>;
	change_listener() = default;
	~change_listener();
	change_listener(const change_listener &) = delete;
	change_listener &operator=(const change_listener &) = delete;

	// Listens on the PostgreSQL database of `uri`, on a thread of its own,
	// until stopped; a lost connection is made again a second later, and
	// what was announced meanwhile is lost (a device catches up from the
	// store when it comes back).
	void start(const std::string &uri, hearing heard);
	void stop();

private:
	void listen(const std::string &uri);
	std::atomic<bool> running_{false};
	hearing heard_;
	std::thread thread_;
};

#endif
