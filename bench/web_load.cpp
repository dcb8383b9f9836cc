// Load on jogar-web: many games played at once through its HTTP API, each
// move judged by the real memoria, among many idle and hostile connections.
// The client is event-driven, one thread: a thread a connection could not
// hold ten thousand of them.
//
// usage: web_load JOGAR_WEB MEMORIA STORE [SERVERS [GAMES [SECONDS [IDLE [TRICKLERS]]]]]
// Starts SERVERS (1) servers on the store STORE (a SQLite file or a
// PostgreSQL URI) and measures, one after the other: the bare spawn rate of
// memoria (a loop that only starts it and waits); the saturated throughput
// (8 clients, a closed loop, spread over the servers); then IDLE (10000) kept-alive connections
// each making a request every 2 to 5 s, TRICKLERS (1000) connections that trickle request heads and
// reconnect whenever the server cuts them, and GAMES (500, or a share of the bare spawn rate:
// "15%") games each making a move a second for SECONDS (10) on the first server, the latency of
// each move taken from the time it was due. Every move names the version its player saw, and the
// move count in its answer must be one more than the player's own: a move lost or counted twice is
// counted as lost. Clients come from 127.0.0.x addresses spread so that no address passes the
// per-address caps. Prints one "name value" line a figure.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <vector>

#include "files.h"

using nlohmann::json;
using clock_type = std::chrono::steady_clock;
namespace fs = std::filesystem;
namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;

namespace {

double seconds_since(clock_type::time_point start)
{
	return std::chrono::duration<double>(clock_type::now() - start).count();
}

// memoria started and waited for, over and over, in a folder of its own:
// the floor of what a server that starts it for every move can do.
double bare_spawn_rate(const std::string &memoria, double seconds)
{
	fs::path dir;
	failure why;
	if (!make_scratch_folder("web-load", dir, why) ||
	    !write_file(dir / "conector.txt", "2 3\r\n", why))
		return -1;
	posix_spawn_file_actions_t actions;
	posix_spawn_file_actions_init(&actions);
	posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
	posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
	std::string name = memoria;
	char *const argv[] = {name.data(), nullptr};
	long runs = 0;
	const auto start = clock_type::now();
	while (seconds_since(start) < seconds) {
		pid_t pid = 0;
		int status = 0;
		if (posix_spawn(&pid, memoria.c_str(), &actions, nullptr, argv, environ) != 0 ||
		    waitpid(pid, &status, 0) != pid || status != 0)
			return -1;
		++runs;
	}
	const double rate = static_cast<double>(runs) / seconds_since(start);
	posix_spawn_file_actions_destroy(&actions);
	fs::remove_all(dir);
	return rate;
}

struct figures {
	long moves = 0;
	long failed_moves = 0;
	long mismatched = 0;
	long idle_requests = 0;
	long idle_failed = 0;
	long trickler_cuts = 0;
	long lost = 0;
	std::vector<double> latencies_ms;
};

struct load {
	net::io_context io{1};
	std::vector<int> ports; // one a server
	figures f;
	bool running = true;
};

// A kept-alive HTTP connection that makes one request at a time.
class client : public std::enable_shared_from_this<client> {
public:
	using answer = std::function<void(int status, const std::string &body)>;
	client(load &l, const std::string &from, std::size_t server = 0)
	    : load_(l), stream_(l.io), from_(from), port_(l.ports[server % l.ports.size()])
	{
	}

	void connect(std::function<void(bool)> done)
	{
		beast::error_code ec;
		tcp::socket &socket = stream_.socket();
		socket.open(tcp::v4(), ec);
		socket.bind(tcp::endpoint(net::ip::make_address(from_), 0), ec);
		if (ec)
			return done(false);
		stream_.async_connect(tcp::endpoint(net::ip::make_address("127.0.0.1"),
						    static_cast<unsigned short>(port_)),
				      [self = shared_from_this(), done](beast::error_code e) {
					      beast::error_code ignored;
					      self->stream_.socket().set_option(tcp::no_delay(true),
										ignored);
					      done(!e);
				      });
	}

	// A status of 0 means the connection failed.
	void request(http::verb method, const std::string &target, const std::string &body,
		     answer done)
	{
		request_ = {method, target, 11};
		request_.set(http::field::host, "127.0.0.1:" + std::to_string(port_));
		if (method == http::verb::post)
			request_.set(http::field::content_type, "application/json");
		request_.body() = body;
		request_.prepare_payload();
		stream_.expires_after(std::chrono::seconds(30));
		http::async_write(
			stream_, request_,
			[self = shared_from_this(), done](beast::error_code ec, std::size_t) {
				if (ec)
					return done(0, "");
				self->read(done);
			});
	}

	tcp::socket &socket() { return stream_.socket(); }

private:
	void read(const answer &done)
	{
		response_ = {};
		http::async_read(
			stream_, buffer_, response_,
			[self = shared_from_this(), done](beast::error_code ec, std::size_t) {
				if (ec)
					return done(0, "");
				done(static_cast<int>(self->response_.result_int()),
				     self->response_.body());
			});
	}

	load &load_;
	beast::tcp_stream stream_;
	std::string from_;
	int port_;
	beast::flat_buffer buffer_;
	http::request<http::string_body> request_;
	http::response<http::string_body> response_;
};

// One game as a player sees it: the places found so far.
struct player : std::enable_shared_from_this<player> {
	player(load &l, std::shared_ptr<client> c) : load_(l), conn(std::move(c)) {}
	load &load_;
	std::shared_ptr<client> conn;
	std::string id;
	long version = 0;
	long moves = 0;
	std::vector<bool> found = std::vector<bool>(16, false);
	std::mt19937 random{std::random_device{}()};
	net::steady_timer timer{load_.io};
	// Moves due while one is under way wait their turn: one connection
	// carries one request at a time.
	std::vector<std::function<void(bool)>> waiting;
	bool moving = false;

	void move_in_turn(std::function<void(bool)> done)
	{
		if (moving)
			return waiting.push_back(std::move(done));
		moving = true;
		move([self = shared_from_this(), done](bool ok) {
			self->moving = false;
			done(ok);
			if (!self->waiting.empty()) {
				auto next = std::move(self->waiting.front());
				self->waiting.erase(self->waiting.begin());
				self->move_in_turn(std::move(next));
			}
		});
	}

	void new_game(std::function<void(bool)> done)
	{
		conn->request(
			http::verb::post, "/api/games", "{}",
			[self = shared_from_this(), done](int status, const std::string &body) {
				const json reply = json::parse(body, nullptr, false);
				if (status != 201 || reply.is_discarded())
					return done(false);
				self->id = reply["game"];
				self->version = self->moves = 0;
				self->found.assign(16, false);
				done(true);
			});
	}

	// A move of two places not yet found; checks that the reply echoes it
	// and that the verdict agrees with the faces shown.
	void move(std::function<void(bool)> done)
	{
		std::vector<int> open;
		for (int place = 0; place < 16; ++place) {
			if (!found[static_cast<std::size_t>(place)])
				open.push_back(place);
		}
		std::shuffle(open.begin(), open.end(), random);
		const int first = open[0];
		const int second = open[1];
		conn->request(
			http::verb::post, "/api/games/" + id + "/moves",
			json{{"first", first}, {"second", second}, {"version", version}}.dump(),
			[self = shared_from_this(), first, second, done](int status,
									 const std::string &body) {
				self->judged(status, body, first, second, done);
			});
	}

	void judged(int status, const std::string &body, int first, int second,
		    const std::function<void(bool)> &done)
	{
		figures &f = load_.f;
		const json reply = json::parse(body, nullptr, false);
		if (status != 200 || reply.is_discarded()) {
			if (f.failed_moves++ < 5)
				std::fprintf(stderr, "web_load: move failed: %d %s\n", status,
					     body.c_str());
			return done(false);
		}
		const bool echoed = reply.value("first", -1) == first &&
				    reply.value("second", -1) == second &&
				    reply["values"].is_array();
		if (!echoed ||
		    (reply["values"][0] == reply["values"][1]) != (reply["verdict"] == 1)) {
			++f.mismatched;
			return done(false);
		}
		++f.moves;
		if (reply.value("moves", -1L) != ++moves)
			++f.lost;
		version = reply.value("version", -1L);
		if (reply["verdict"] == 1)
			found[static_cast<std::size_t>(first)] =
				found[static_cast<std::size_t>(second)] = true;
		if (reply["finished"] == true)
			return new_game(done);
		done(true);
	}
};

std::string address(int block, int n)
{
	return "127.0." + std::to_string(block) + "." + std::to_string(2 + n % 250);
}

// As fast as the server answers: clients each playing one game after another.
double saturated_rate(load &l, int clients, double seconds)
{
	const auto start = clock_type::now();
	const long before = l.f.moves;
	std::function<void(std::shared_ptr<player>)> next = [&](const std::shared_ptr<player> &p) {
		if (seconds_since(start) < seconds)
			p->move([&, p](bool) { next(p); });
	};
	for (int c = 0; c < clients; ++c) {
		auto conn = std::make_shared<client>(l, address(1, c), static_cast<std::size_t>(c));
		auto p = std::make_shared<player>(l, conn);
		conn->connect([&, p](bool ok) {
			if (ok)
				p->new_game([&, p](bool made) {
					if (made)
						next(p);
				});
		});
	}
	l.io.restart();
	l.io.run();
	return static_cast<double>(l.f.moves - before) / seconds_since(start);
}

// A connection that makes a small request every 2 to 5 s, for ever.
void keep_idle(load &l, const std::shared_ptr<client> &c,
	       const std::shared_ptr<net::steady_timer> &t, std::mt19937 &random)
{
	if (!l.running)
		return;
	t->expires_after(std::chrono::milliseconds(2000 + random() % 3000));
	t->async_wait([&l, c, t, &random](beast::error_code ec) {
		if (ec || !l.running)
			return;
		c->request(http::verb::get, "/style.css", "",
			   [&l, c, t, &random](int status, const std::string &) {
				   ++l.f.idle_requests;
				   if (status != 200) {
					   ++l.f.idle_failed;
					   return;
				   }
				   keep_idle(l, c, t, random);
			   });
	});
}

// Trickles a request head a byte every 300 ms; when the server cuts it,
// connects again.
void trickle(load &l, int n)
{
	if (!l.running)
		return;
	auto c = std::make_shared<client>(l, address(3, n));
	c->connect([&l, c, n](bool ok) {
		if (!ok)
			return;
		auto t = std::make_shared<net::steady_timer>(l.io);
		auto step = std::make_shared<std::function<void()>>();
		*step = [&l, c, t, step, n] {
			static const char byte[] = "X";
			net::async_write(c->socket(), net::buffer(byte, 1),
					 [&l, c, t, step, n](beast::error_code ec, std::size_t) {
						 if (ec) {
							 ++l.f.trickler_cuts;
							 *step = nullptr;
							 return trickle(l, n);
						 }
						 t->expires_after(std::chrono::milliseconds(300));
						 t->async_wait([&l, step](beast::error_code e) {
							 if (!e && l.running && *step)
								 (*step)();
						 });
					 });
		};
		static const std::string head = "GET / HTTP/1.1\r\nX-Slow: ";
		net::async_write(c->socket(), net::buffer(head),
				 [step](beast::error_code, std::size_t) { (*step)(); });
	});
}

long server_rss_kib(pid_t pid)
{
	std::string status;
	failure why;
	if (!read_file("/proc/" + std::to_string(pid) + "/status", status, why))
		return -1;
	const std::size_t at = status.find("VmRSS:");
	return at == std::string::npos ? -1 : std::atol(status.c_str() + at + 6);
}

double percentile(std::vector<double> values, double p)
{
	if (values.empty())
		return -1;
	std::sort(values.begin(), values.end());
	return values[static_cast<std::size_t>(p * static_cast<double>(values.size() - 1))];
}

// Starts jogar-web on a free port and reads the address it prints.
pid_t start_server(const std::string &program, const std::string &memoria, const std::string &store,
		   int &port)
{
	int out[2];
	if (pipe(out) != 0)
		return -1;
	posix_spawn_file_actions_t actions;
	posix_spawn_file_actions_init(&actions);
	posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
	std::vector<std::string> words = {program,   "--port", "0",           "--memoria", memoria,
					  "--store", store,    "--max-games", "5000"};
	std::vector<char *> argv;
	for (std::string &w : words)
		argv.push_back(w.data());
	argv.push_back(nullptr);
	pid_t pid = 0;
	const int error =
		posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
	posix_spawn_file_actions_destroy(&actions);
	close(out[1]);
	std::string line;
	char c = 0;
	while (error == 0 && read(out[0], &c, 1) == 1 && c != '\n')
		line += c;
	close(out[0]);
	const std::size_t colon = line.rfind(':');
	if (error != 0 || colon == std::string::npos)
		return -1;
	port = std::atoi(line.c_str() + colon + 1);
	return pid;
}

} // namespace

int main(int argc, char **argv)
{
	if (argc < 4) {
		std::fprintf(stderr, "usage: web_load JOGAR_WEB MEMORIA STORE [SERVERS [GAMES"
				     " [SECONDS [IDLE [TRICKLERS]]]]]\n");
		return 2;
	}
	rlimit limit{};
	getrlimit(RLIMIT_NOFILE, &limit);
	limit.rlim_cur = limit.rlim_max;
	setrlimit(RLIMIT_NOFILE, &limit);
	const std::string memoria = fs::absolute(argv[2]).string();
	const int servers = argc > 4 ? std::atoi(argv[4]) : 1;
	// GAMES may be a share of this machine's bare spawn rate ("15%"), so
	// that one load means the same on a slow machine as on a fast one.
	const std::string games_given = argc > 5 ? argv[5] : "500";
	const bool games_share = !games_given.empty() && games_given.back() == '%';
	const double seconds = argc > 6 ? std::atof(argv[6]) : 10;
	const int idle = argc > 7 ? std::atoi(argv[7]) : 10000;
	const int tricklers = argc > 8 ? std::atoi(argv[8]) : 1000;
	load l;
	std::vector<pid_t> pids;
	for (int n = 0; n < servers; ++n) {
		int port = 0;
		pids.push_back(start_server(argv[1], memoria, argv[3], port));
		if (pids.back() < 0) {
			std::fprintf(stderr, "web_load: cannot start %s\n", argv[1]);
			return 1;
		}
		l.ports.push_back(port);
	}
	const pid_t server = pids[0];
	const long fresh_rss = server_rss_kib(server);
	const double bare = bare_spawn_rate(memoria, 5);
	const double saturated = saturated_rate(l, 8, 5);
	const int games = games_share
				  ? static_cast<int>(bare * std::atof(games_given.c_str()) / 100)
				  : std::atoi(games_given.c_str());

	// The idle connections, all made and each heard once before the games.
	std::mt19937 random{20261209};
	std::vector<std::shared_ptr<client>> idlers;
	long connected = 0;
	for (int i = 0; i < idle; ++i) {
		auto c = std::make_shared<client>(l, address(10 + i / 2500, i));
		idlers.push_back(c);
		c->connect([&l, c, &random, &connected](bool ok) {
			if (!ok) {
				++l.f.idle_failed;
				return;
			}
			c->request(
				http::verb::get, "/style.css", "",
				[&l, c, &random, &connected](int status, const std::string &) {
					++l.f.idle_requests;
					++connected;
					if (status != 200)
						++l.f.idle_failed;
					else
						keep_idle(l, c,
							  std::make_shared<net::steady_timer>(l.io),
							  random);
				});
		});
	}
	l.io.restart();
	// The phases below wait on the clock: the context must not stop for
	// want of work between them.
	auto busy = net::make_work_guard(l.io);
	const auto opened = clock_type::now();
	while (connected + l.f.idle_failed < idle && seconds_since(opened) < 60)
		l.io.run_for(std::chrono::milliseconds(100));
	const long idle_rss = server_rss_kib(server);
	const long idle_open = connected;

	for (int n = 0; n < tricklers; ++n)
		trickle(l, n);
	// The games: made first, then a move each second, spread over it.
	std::vector<std::shared_ptr<player>> players;
	long made = 0;
	const auto making = clock_type::now();
	for (int g = 0; g < games; ++g) {
		auto conn = std::make_shared<client>(l, address(2, g / 10));
		auto p = std::make_shared<player>(l, conn);
		players.push_back(p);
		conn->connect([p, &made, &l](bool ok) {
			if (!ok) {
				++l.f.failed_moves;
				return;
			}
			p->new_game([&made, &l](bool fine) {
				++made;
				if (!fine)
					++l.f.failed_moves;
			});
		});
	}
	while (made < games && l.f.failed_moves == 0 && seconds_since(opened) < 120)
		l.io.run_for(std::chrono::milliseconds(50));
	std::printf("games_made_s %.2f\n", seconds_since(making));
	const auto start = clock_type::now() + std::chrono::milliseconds(200);
	long load_rss = 0;
	for (int g = 0; g < games; ++g) {
		for (int second = 0; second < static_cast<int>(seconds); ++second) {
			const auto due = start + std::chrono::microseconds(static_cast<long>(
							 1e6 * (second + g / double(games))));
			auto t = std::make_shared<net::steady_timer>(l.io, due);
			auto p = players[static_cast<std::size_t>(g)];
			t->async_wait([&l, t, p, due](beast::error_code) {
				p->move_in_turn([&l, due](bool) {
					l.f.latencies_ms.push_back(
						std::chrono::duration<double, std::milli>(
							clock_type::now() - due)
							.count());
				});
			});
		}
	}
	net::steady_timer measure(
		l.io, start + std::chrono::milliseconds(static_cast<long>(500 * seconds)));
	measure.async_wait([&](beast::error_code) { load_rss = server_rss_kib(server); });
	const auto finish =
		start + std::chrono::milliseconds(static_cast<long>(1000 * seconds) + 3000);
	while (clock_type::now() < finish &&
	       static_cast<long>(l.f.latencies_ms.size()) < games * static_cast<long>(seconds))
		l.io.run_for(std::chrono::milliseconds(50));
	l.running = false;
	const long answered = static_cast<long>(l.f.latencies_ms.size());
	int status = 0;
	for (const pid_t pid : pids) {
		kill(pid, SIGTERM);
		waitpid(pid, &status, 0);
	}
	std::printf("bare_spawn_per_s %.0f\n", bare);
	std::printf("saturated_moves_per_s %.0f\n", saturated);
	std::printf("saturated_ratio %.2f\n", saturated / bare);
	std::printf("idle_connections %ld\n", idle_open);
	std::printf("idle_requests %ld\n", l.f.idle_requests);
	std::printf("idle_failed %ld\n", l.f.idle_failed);
	std::printf("tricklers %d\n", tricklers);
	std::printf("trickler_cuts %ld\n", l.f.trickler_cuts);
	std::printf("open_loop_games %d\n", games);
	std::printf("open_loop_seconds %.0f\n", seconds);
	std::printf("open_loop_moves %ld\n", answered);
	std::printf("p50_ms %.2f\n", percentile(l.f.latencies_ms, 0.50));
	std::printf("p99_ms %.2f\n", percentile(l.f.latencies_ms, 0.99));
	std::printf("max_ms %.2f\n", percentile(l.f.latencies_ms, 1.0));
	std::printf("failed %ld\n",
		    l.f.failed_moves + (games * static_cast<long>(seconds) - answered));
	std::printf("mismatched %ld\n", l.f.mismatched);
	std::printf("lost %ld\n", l.f.lost);
	std::printf("servers %d\n", servers);
	std::printf("rss_fresh_kib %ld\n", fresh_rss);
	std::printf("rss_idle_kib %ld\n", idle_rss);
	std::printf("rss_load_kib %ld\n", load_rss);
	std::printf("server_exit %d\n", WIFEXITED(status) ? WEXITSTATUS(status) : -1);
	return 0;
}
