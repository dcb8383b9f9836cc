// The WebSockets that follow games: each is upgraded from a request to
// /api/games/ID/events and hears every change kept to that game, as the
// answer that was given for it, until it closes. Client messages are read
// and dropped (at most 1 KiB each); pings keep a quiet socket open past the
// HTTP idle timeout and close one whose peer has gone.
#ifndef MEMORIA_WEB_SERVER_FOLLOWERS_H
#define MEMORIA_WEB_SERVER_FOLLOWERS_H

#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

class follower;

// On the server's thread only.
class game_followers {
public:
	void add(const std::string &game, const std::shared_ptr<follower> &f);
	// Sends the text to every socket that follows the game.
	void publish(const std::string &game, const std::string &text);
	// Drops the sockets of the game that have closed, and the game with
	// its last, so that sockets to games made up leave nothing behind.
	void forget_closed(const std::string &game);

private:
	std::map<std::string, std::vector<std::weak_ptr<follower>>> of_game_;
};

class follower : public std::enable_shared_from_this<follower> {
public:
	// `holder` keeps the connection it came from, and so its place in the
	// connection caps, for as long as the socket is open.
	follower(boost::beast::tcp_stream stream, std::shared_ptr<void> holder,
		 game_followers &followers, std::string game, std::chrono::milliseconds handshake,
		 std::chrono::milliseconds idle);
	~follower();
	follower(const follower &) = delete;
	follower &operator=(const follower &) = delete;
	void start(boost::beast::http::request<boost::beast::http::string_body> request);
	void send(const std::shared_ptr<const std::string> &text);

private:
	void read();
	void write();

	boost::beast::websocket::stream<boost::beast::tcp_stream> socket_;
	boost::beast::http::request<boost::beast::http::string_body> request_; // until accepted
	std::shared_ptr<void> holder_;
	game_followers &followers_;
	std::string game_;
	boost::beast::flat_buffer in_;
	std::deque<std::shared_ptr<const std::string>> out_;
	bool open_ = false;
};

#endif
