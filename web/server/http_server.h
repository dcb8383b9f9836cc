// HTTP on Boost.Beast: every connection costs a socket and a small buffer,
// not a thread, and every wait has a deadline, so no client, slow or many,
// holds the server. Limits are checked before anything is read in full, and
// every refusal is a JSON error. The server runs on one thread; what takes
// time (the judge) is done elsewhere and answered through the route's sink.
#ifndef MEMORIA_WEB_SERVER_HTTP_SERVER_H
#define MEMORIA_WEB_SERVER_HTTP_SERVER_H

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "failure.h"
#include "routes.h"

struct server_limits {
	// From a request's first byte to its last: head and body.
	std::chrono::milliseconds request_deadline{5000};
	// How long a kept-alive connection may wait for its next request.
	std::chrono::milliseconds idle_timeout{15000};
	std::chrono::milliseconds write_deadline{5000};
	std::size_t head_cap = 8 * 1024;
	std::size_t body_cap = 1024;
	std::size_t max_connections = 16000;
	std::size_t max_connections_per_client = 256;
};

struct server_config {
	server_limits limits;
	// The Host values that requests may name: the address the server is
	// reached by. An Origin, when sent, must be one of them.
	std::vector<std::string> hosts;
	// A reverse proxy's address: its connections are not capped per
	// address, and the last X-Forwarded-For entry is its client's.
	std::string proxy;
};

// What the server hands each request to.
using request_router = std::function<void(const http_call &, const reply_sink &)>;

class http_server {
public:
	http_server(boost::asio::io_context &io, server_config config, request_router router);
	~http_server();
	http_server(const http_server &) = delete;
	http_server &operator=(const http_server &) = delete;

	bool listen(const std::string &host, unsigned short port, failure &why);
	unsigned short port() const;
	// The Host values that requests may name, once the port is known.
	void set_hosts(std::vector<std::string> hosts);
	void stop_accepting();
	// Sends the text to every WebSocket that follows the game; from any
	// thread.
	void publish(const std::string &game, const std::string &text);

	struct state; // shared with the connections, on the server's thread only

private:
	void accept();
	std::shared_ptr<state> state_;
};

// The key by which an address is counted: an IPv4 address itself, an IPv6
// address by its /64, which one host usually holds whole.
std::string address_key(const boost::asio::ip::address &address);

#endif
