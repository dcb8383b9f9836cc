#include "followers.h"

#include <algorithm>

namespace beast = boost::beast;
namespace websocket = beast::websocket;

namespace {

// A client message is a keep-alive at most: nothing in the game needs more.
constexpr std::size_t client_message_cap = 1024;
// A socket this far behind is not reading: it is closed, and its device
// catches up from the store when it comes back.
constexpr std::size_t queue_cap = 64;

} // namespace

void game_followers::add(const std::string &game, const std::shared_ptr<follower> &f)
{
	of_game_[game].push_back(f);
}

void game_followers::forget_closed(const std::string &game)
{
	const auto found = of_game_.find(game);
	if (found == of_game_.end())
		return;
	std::vector<std::weak_ptr<follower>> &list = found->second;
	list.erase(std::remove_if(list.begin(), list.end(),
				  [](const std::weak_ptr<follower> &w) { return w.expired(); }),
		   list.end());
	if (list.empty())
		of_game_.erase(found);
}

void game_followers::publish(const std::string &game, const std::string &text)
{
	const auto found = of_game_.find(game);
	if (found == of_game_.end())
		return;
	const auto shared = std::make_shared<const std::string>(text);
	std::vector<std::weak_ptr<follower>> &list = found->second;
	list.erase(std::remove_if(list.begin(), list.end(),
				  [&shared](const std::weak_ptr<follower> &w) {
					  const auto f = w.lock();
					  if (f)
						  f->send(shared);
					  return !f;
				  }),
		   list.end());
	if (list.empty())
		of_game_.erase(found);
}

follower::follower(beast::tcp_stream stream, std::shared_ptr<void> holder,
		   game_followers &followers, std::string game, std::chrono::milliseconds handshake,
		   std::chrono::milliseconds idle)
    : socket_(std::move(stream)), holder_(std::move(holder)), followers_(followers),
      game_(std::move(game))
{
	// The WebSocket's own timeouts, pings included, replace the stream's.
	beast::get_lowest_layer(socket_).expires_never();
	websocket::stream_base::timeout limits{};
	limits.handshake_timeout = handshake;
	limits.idle_timeout = idle;
	limits.keep_alive_pings = true;
	socket_.set_option(limits);
	socket_.read_message_max(client_message_cap);
}

// On the server's thread, where its last handler let it go.
follower::~follower()
{
	followers_.forget_closed(game_);
}

void follower::start(beast::http::request<beast::http::string_body> request)
{
	request_ = std::move(request);
	socket_.async_accept(request_, [self = shared_from_this()](beast::error_code ec) {
		if (ec)
			return;
		self->open_ = true;
		self->followers_.add(self->game_, self);
		self->read();
	});
}

void follower::read()
{
	socket_.async_read(in_, [self = shared_from_this()](beast::error_code ec, std::size_t) {
		if (ec) {
			// Closed, timed out, or a message over the cap: gone.
			self->open_ = false;
			return;
		}
		self->in_.consume(self->in_.size());
		self->read();
	});
}

void follower::send(const std::shared_ptr<const std::string> &text)
{
	if (!open_)
		return;
	if (out_.size() >= queue_cap) {
		open_ = false;
		beast::get_lowest_layer(socket_).close();
		return;
	}
	out_.push_back(text);
	if (out_.size() == 1)
		write();
}

void follower::write()
{
	socket_.text(true);
	socket_.async_write(beast::net::buffer(*out_.front()),
			    [self = shared_from_this()](beast::error_code ec, std::size_t) {
				    self->out_.pop_front();
				    if (ec) {
					    self->open_ = false;
					    return;
				    }
				    if (!self->out_.empty())
					    self->write();
			    });
}
