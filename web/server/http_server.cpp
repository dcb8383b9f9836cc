#include "http_server.h"

#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <algorithm>
#include <optional>
#include <regex>
#include <utility>

#include "followers.h"

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;

namespace {

// Sent with every answer: the page's own files only, no inline script or
// style, never in a frame, no referrer, no guessing of types. WebAssembly may
// be compiled (the page's memoria.wasm and game.wasm); no other code from
// strings. The page's manifest and service worker are its own files too.
const char content_policy[] = "default-src 'none'; script-src 'self' 'wasm-unsafe-eval'; "
			      "style-src 'self'; img-src 'self'; connect-src 'self'; "
			      "manifest-src 'self'; worker-src 'self'; "
			      "base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

std::string lower(std::string text)
{
	std::transform(text.begin(), text.end(), text.begin(),
		       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
	return text;
}

std::string trimmed(const std::string &text)
{
	const std::size_t start = text.find_first_not_of(" \t");
	if (start == std::string::npos)
		return "";
	return text.substr(start, text.find_last_not_of(" \t") - start + 1);
}

} // namespace

std::string address_key(const net::ip::address &address)
{
	if (address.is_v4())
		return address.to_string();
	if (address.to_v6().is_v4_mapped())
		return net::ip::make_address_v4(net::ip::v4_mapped, address.to_v6()).to_string();
	net::ip::address_v6::bytes_type bytes = address.to_v6().to_bytes();
	std::fill(bytes.begin() + 8, bytes.end(), 0);
	return net::ip::address_v6(bytes).to_string() + "/64";
}

struct http_server::state {
	state(net::io_context &context, server_config c, request_router r)
	    : io(context), acceptor(context), config(std::move(c)), router(std::move(r))
	{
	}
	net::io_context &io;
	tcp::acceptor acceptor;
	server_config config;
	request_router router;
	net::steady_timer retry{io};
	std::size_t connections = 0;
	std::map<std::string, std::size_t> connections_of;
	game_followers followers;
	bool accepting = false;
};

namespace {

using server_state = http_server::state;

// One connection, from accept to close. It lives while an operation of its
// own is pending, through the shared pointer that each handler holds.
class connection : public std::enable_shared_from_this<connection> {
public:
	connection(tcp::socket socket, std::shared_ptr<server_state> server, std::string peer,
		   bool from_proxy)
	    : stream_(std::move(socket)), deadline_(stream_.get_executor()),
	      server_(std::move(server)), peer_(std::move(peer)), from_proxy_(from_proxy),
	      buffer_(server_->config.limits.head_cap + server_->config.limits.body_cap + 1024)
	{
	}
	~connection()
	{
		if (counted_ && --server_->connections_of[peer_] == 0)
			server_->connections_of.erase(peer_);
		if (counted_total_)
			--server_->connections;
	}
	connection(const connection &) = delete;
	connection &operator=(const connection &) = delete;

	// Counts the connection against the caps, or refuses it.
	void start()
	{
		server_state &s = *server_;
		if (s.connections >= s.config.limits.max_connections)
			return refuse_connection(
				"the server has too many connections; try again later");
		++s.connections;
		counted_total_ = true;
		if (!from_proxy_) {
			std::size_t &mine = s.connections_of[peer_];
			counted_ = true;
			++mine;
			if (mine > s.config.limits.max_connections_per_client)
				return refuse_connection("too many connections from this address");
		}
		await_request(s.config.limits.request_deadline);
	}

private:
	void refuse_connection(const std::string &why) { answer({503, error_body(why)}, true); }

	// Waits for a request's first byte: on a kept-alive connection as long
	// as the idle timeout, on a new one no longer than a request may take.
	void await_request(std::chrono::milliseconds wait)
	{
		parser_.emplace();
		parser_->header_limit(static_cast<std::uint32_t>(server_->config.limits.head_cap));
		parser_->body_limit(server_->config.limits.body_cap);
		received_ = 0;
		head_bytes_ = 0;
		if (buffer_.size() > 0)
			return read_request();
		stream_.expires_after(wait);
		stream_.async_read_some(
			buffer_.prepare(512),
			[self = shared_from_this()](beast::error_code ec, std::size_t got) {
				if (ec)
					return self->close(); // idle, or gone: nothing to answer
				self->buffer_.commit(got);
				self->read_request();
			});
	}

	// The whole request, head and body, within one deadline and within the
	// caps, counted on the bytes received whatever the framing.
	// The deadline is a timer of its own, not the stream's, which would
	// close the socket before the 408 could be written.
	void read_request()
	{
		stream_.expires_never();
		timed_out_ = false;
		deadline_.expires_after(server_->config.limits.request_deadline);
		deadline_.async_wait([weak = weak_from_this()](beast::error_code ec) {
			const auto self = weak.lock();
			if (ec || !self)
				return;
			self->timed_out_ = true;
			beast::error_code ignored;
			self->stream_.socket().cancel(ignored);
		});
		read_more();
	}

	void read_more()
	{
		http::async_read_some(
			stream_, buffer_, *parser_,
			[self = shared_from_this()](beast::error_code ec, std::size_t used) {
				self->received_ += used;
				self->after_read(ec);
			});
	}

	void after_read(beast::error_code ec)
	{
		const server_limits &limits = server_->config.limits;
		if (timed_out_)
			ec = beast::error::timeout;
		if (ec || parser_->is_done())
			deadline_.cancel();
		// The parser stops at the end of the head (it is not eager), so
		// the bytes taken by then are the head's.
		if (!ec && head_bytes_ == 0 && parser_->is_header_done())
			head_bytes_ = received_;
		if (!ec && (head_bytes_ == 0 ? received_ : head_bytes_) > limits.head_cap)
			ec = http::error::header_limit;
		else if (!ec && head_bytes_ != 0 && received_ - head_bytes_ > 2 * limits.body_cap)
			ec = http::error::body_limit;
		if (ec == http::error::end_of_stream || ec == net::error::eof ||
		    ec == net::error::connection_reset)
			return close();
		if (ec == beast::error::timeout)
			return answer({408, error_body("the request took too long")}, true);
		if (ec == http::error::header_limit || ec == http::error::buffer_overflow)
			return answer({431, error_body("the request head is over 8 KiB")}, true);
		if (ec == http::error::body_limit)
			return answer({413, error_body("the body is over 1 KiB")}, true);
		if (ec)
			return answer({400, error_body("the request is not HTTP")}, true);
		if (!parser_->is_done())
			return read_more();
		dispatch(parser_->release());
	}

	// Whether the request comes from where the server is reached: a Host
	// of its own, and an Origin, when sent, of one of those hosts.
	bool same_origin(const http::request<http::string_body> &request) const
	{
		const std::vector<std::string> &hosts = server_->config.hosts;
		const std::string host = lower(std::string(request[http::field::host]));
		if (std::find(hosts.begin(), hosts.end(), host) == hosts.end())
			return false;
		const auto origin = request.find(http::field::origin);
		if (origin == request.end())
			return true;
		const std::string from = lower(std::string(origin->value()));
		return from == "http://" + host || from == "https://" + host;
	}

	// The client's address: the connection's, or behind the proxy the last
	// entry of X-Forwarded-For, the one the proxy itself wrote.
	std::string client_of(const http::request<http::string_body> &request) const
	{
		if (!from_proxy_)
			return peer_;
		const std::string forwarded(request["X-Forwarded-For"]);
		const std::size_t comma = forwarded.rfind(',');
		const std::string last = trimmed(
			comma == std::string::npos ? forwarded : forwarded.substr(comma + 1));
		beast::error_code ec;
		const net::ip::address address = net::ip::make_address(last, ec);
		return ec ? peer_ : address_key(address);
	}

	void dispatch(http::request<http::string_body> request)
	{
		keep_alive_ = request.keep_alive();
		version_ = request.version();
		if (!same_origin(request))
			return answer({403, error_body("this server is not reached by that name")},
				      false);
		if (beast::websocket::is_upgrade(request))
			return follow(std::move(request));
		const std::string type(request[http::field::content_type]);
		if (!request.body().empty() &&
		    lower(type.substr(0, type.find(';'))) != "application/json")
			return answer({415, error_body("a body must be application/json")}, false);
		http_call call;
		call.method = std::string(request.method_string());
		const std::string target(request.target());
		call.path = target.substr(0, target.find('?'));
		call.body = std::move(request.body());
		call.client = client_of(request);
		call.seat = std::string(request["X-Memoria-Seat"]);
		call.invite = std::string(request["X-Memoria-Invite"]);
		call.browser = std::string(request["X-Memoria-Browser"]);
		net::io_context &io = server_->io;
		auto keep = shared_from_this();
		server_->router(call, [&io, keep](api_reply reply) {
			net::post(io, [keep, reply = std::move(reply)]() mutable {
				keep->answer(std::move(reply), false);
			});
		});
	}

	// Hands the connection to a WebSocket that follows a game; it keeps
	// this connection, and its place in the caps, while it is open.
	void follow(http::request<http::string_body> request)
	{
		static const std::regex events("/api/games/([0-9a-f]{32})/events");
		const std::string target(request.target());
		std::smatch parts;
		if (!std::regex_match(target, parts, events))
			return answer({404, error_body("no WebSocket here")}, true);
		deadline_.cancel();
		const server_limits &limits = server_->config.limits;
		// A quiet socket is pinged well within its idle time, which is
		// longer than a kept-alive connection's.
		const auto idle =
			std::max(limits.idle_timeout * 4, std::chrono::milliseconds(4000));
		const auto f = std::make_shared<follower>(std::move(stream_), shared_from_this(),
							  server_->followers, parts.str(1),
							  limits.request_deadline, idle);
		f->start(std::move(request));
	}

	// Writes the answer; a connection no longer trusted is closed after it.
	void answer(api_reply reply, bool then_close)
	{
		if (then_close)
			keep_alive_ = false;
		response_.emplace(static_cast<http::status>(reply.status), version_);
		http::response<http::string_body> &res = *response_;
		res.set(http::field::content_type, reply.type);
		res.set("Content-Security-Policy", content_policy);
		res.set("X-Content-Type-Options", "nosniff");
		res.set("X-Frame-Options", "DENY");
		res.set("Referrer-Policy", "no-referrer");
		res.set(http::field::cache_control, "no-store");
		if (!reply.allow.empty())
			res.set(http::field::allow, reply.allow);
		res.keep_alive(keep_alive_);
		res.body() = std::move(reply.body);
		res.prepare_payload();
		stream_.expires_after(server_->config.limits.write_deadline);
		http::async_write(stream_, res,
				  [self = shared_from_this()](beast::error_code ec, std::size_t) {
					  if (ec || !self->keep_alive_)
						  return self->close();
					  self->await_request(
						  self->server_->config.limits.idle_timeout);
				  });
	}

	void close()
	{
		beast::error_code ignored;
		stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
		stream_.close();
	}

	beast::tcp_stream stream_;
	net::steady_timer deadline_;
	bool timed_out_ = false;
	std::shared_ptr<server_state> server_;
	std::string peer_;
	bool from_proxy_;
	bool counted_ = false;
	bool counted_total_ = false;
	beast::flat_buffer buffer_;
	std::optional<http::request_parser<http::string_body>> parser_;
	std::optional<http::response<http::string_body>> response_;
	std::size_t received_ = 0;   // of this request, head and body
	std::size_t head_bytes_ = 0; // of its head, once it is whole
	bool keep_alive_ = true;
	unsigned version_ = 11;
};

} // namespace

http_server::http_server(net::io_context &io, server_config config, request_router router)
    : state_(std::make_shared<state>(io, std::move(config), std::move(router)))
{
}

http_server::~http_server()
{
	stop_accepting();
}

bool http_server::listen(const std::string &host, unsigned short port, failure &why)
{
	beast::error_code ec;
	const net::ip::address address = net::ip::make_address(host, ec);
	if (ec) {
		why = {host + " is not a numeric address"};
		return false;
	}
	const tcp::endpoint endpoint(address, port);
	tcp::acceptor &acceptor = state_->acceptor;
	if (!acceptor.open(endpoint.protocol(), ec) &&
	    !acceptor.set_option(net::socket_base::reuse_address(true), ec) &&
	    !acceptor.bind(endpoint, ec) &&
	    !acceptor.listen(net::socket_base::max_listen_connections, ec)) {
		state_->accepting = true;
		accept();
		return true;
	}
	why = {"cannot listen on " + host + " port " + std::to_string(port) + ": " + ec.message()};
	return false;
}

unsigned short http_server::port() const
{
	beast::error_code ec;
	return state_->acceptor.local_endpoint(ec).port();
}

void http_server::set_hosts(std::vector<std::string> hosts)
{
	for (std::string &host : hosts)
		host = lower(host);
	state_->config.hosts = std::move(hosts);
}

void http_server::publish(const std::string &game, const std::string &text)
{
	net::post(state_->io, [s = state_, game, text] { s->followers.publish(game, text); });
}

void http_server::stop_accepting()
{
	state_->accepting = false;
	beast::error_code ignored;
	state_->acceptor.close(ignored);
}

void http_server::accept()
{
	state_->acceptor.async_accept([s = state_, this](beast::error_code ec, tcp::socket socket) {
		if (!s->accepting)
			return;
		if (!ec) {
			// No Nagle delay: answers are small and go out whole.
			beast::error_code ignored;
			socket.set_option(tcp::no_delay(true), ignored);
			const tcp::endpoint remote = socket.remote_endpoint(ignored);
			const std::string peer = address_key(remote.address());
			const bool from_proxy = !s->config.proxy.empty() &&
						remote.address().to_string() == s->config.proxy;
			std::make_shared<connection>(std::move(socket), s, peer, from_proxy)
				->start();
			return accept();
		}
		// A failed accept (no descriptor left) is tried again a little
		// later: the connections that end free what the next one needs.
		s->retry.expires_after(std::chrono::milliseconds(50));
		s->retry.async_wait([s, this](beast::error_code) {
			if (s->accepting)
				accept();
		});
	});
}
