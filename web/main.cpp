// jogar-web: the pair-matching game in a browser. It serves the page and a
// JSON API, deals each game's cards in an order only it knows, keeps every
// game in its store (a SQLite file, or PostgreSQL shared by several servers),
// and has every move judged by memoria through the connector file of a folder
// made for that move, as any front end would. When it is ready it prints its
// address on stdout; SIGINT or SIGTERM ends it. jogar-web(6) is its manual.
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdlib>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/thread_pool.hpp>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>
#include <thread>

#include "deal.h"
#include "exchange.h"
#include "files.h"
#include "game_root.h"
#include "games.h"
#include "http_server.h"
#include "listener.h"
#include "routes.h"
#include "store.h"
#include "usage.h"

namespace fs = std::filesystem;
namespace net = boost::asio;

namespace {

const char usage[] =
	"usage: jogar-web [--host ADDRESS] [--port N] [--memoria PROGRAM] [--page FOLDER]\n"
	"                 [--max-games N] [--max-games-per-client N] [--judge-timeout MS]\n"
	"                 [--max-connections N] [--max-connections-per-client N]\n"
	"                 [--idle-timeout S] [--allow-host NAME]... [--proxy ADDRESS]\n"
	"                 [--store PATH | --store postgresql://...] [--keep-finished DAYS]\n"
	"       jogar-web [--store ...] --check\n"
	"       jogar-web --help | --version\n";

// How long moves under way may take to finish once the server is told to stop.
constexpr std::chrono::seconds stop_grace{3};
// Unfinished games that saw no change for this long are removed.
constexpr std::chrono::hours unfinished_kept{7 * 24};
// The store is tidied this often, a batch of games a transaction.
constexpr std::chrono::seconds tidy_every{60};
constexpr int tidy_batch = 100;
constexpr int tidy_batches = 20; // a round at most, so a backlog goes over rounds

struct options {
	std::string host = "127.0.0.1";
	long port = 8080;
	fs::path memoria;
	fs::path page;
	long max_games = 1000;
	long max_games_per_client = 20;
	long judge_timeout_ms = 2000;
	long max_connections = 16000;
	long max_connections_per_client = 256;
	long idle_timeout_s = 15;
	long keep_finished_days = 30;
	std::vector<std::string> hosts;
	std::string proxy;
	std::string store;
	bool check = false;
};

bool parse_number(const std::string &text, long low, long high, long &value)
{
	if (text.empty() || text.size() > 9 ||
	    text.find_first_not_of("0123456789") != std::string::npos)
		return false;
	value = std::stol(text);
	return value >= low && value <= high;
}

bool parse_web_options(int argc, char **argv, options &o)
{
	const struct number_option {
		const char *name;
		long options::*field;
		long low;
		long high;
	} numbers[] = {
		{"--port", &options::port, 0, 65535},
		{"--max-games", &options::max_games, 1, 1000000},
		{"--max-games-per-client", &options::max_games_per_client, 1, 1000000},
		{"--judge-timeout", &options::judge_timeout_ms, 1, 600000},
		{"--max-connections", &options::max_connections, 1, 1000000},
		{"--max-connections-per-client", &options::max_connections_per_client, 1, 1000000},
		{"--idle-timeout", &options::idle_timeout_s, 1, 3600},
		{"--keep-finished", &options::keep_finished_days, 1, 36500},
	};
	for (int i = 1; i < argc; ++i) {
		const std::string arg = argv[i];
		if (arg == "--check") {
			o.check = true;
			continue;
		}
		if (i + 1 >= argc)
			return false;
		const std::string value = argv[++i];
		const auto *const number =
			std::find_if(std::begin(numbers), std::end(numbers),
				     [&arg](const auto &n) { return arg == n.name; });
		if (number != std::end(numbers)) {
			if (!parse_number(value, number->low, number->high, o.*(number->field)))
				return false;
		} else if (arg == "--host") {
			o.host = value == "localhost" ? "127.0.0.1" : value;
		} else if (arg == "--memoria") {
			o.memoria = value;
		} else if (arg == "--page") {
			o.page = value;
		} else if (arg == "--allow-host") {
			o.hosts.push_back(value);
		} else if (arg == "--proxy") {
			o.proxy = value;
		} else if (arg == "--store") {
			o.store = value;
		} else {
			return false;
		}
	}
	return true;
}

// The page's folder: beside the program in a build, under share/ once
// installed.
fs::path find_page(const fs::path &beside)
{
	for (const fs::path &dir : {beside / "page", beside / ".." / "share" / "memoria" / "web"}) {
		std::error_code ignored;
		if (fs::exists(dir / "index.html", ignored))
			return dir;
	}
	return beside / "page";
}

// Where the games are kept when --store names no place: the folder that
// systemd gives the service, else the user's state folder. The folder is made
// on first start, readable by its owner alone: the deals are secrets.
bool default_store(std::string &where, failure &why)
{
	const char *given = std::getenv("STATE_DIRECTORY");
	const std::string state = given == nullptr ? "" : given;
	const char *xdg = std::getenv("XDG_STATE_HOME");
	const char *home = std::getenv("HOME");
	fs::path dir;
	if (!state.empty())
		dir = state.substr(0, state.find(':')); // the first, when systemd gives several
	else if (xdg != nullptr && *xdg == '/')
		dir = fs::path(xdg) / "memoria";
	else if (home != nullptr && *home == '/')
		dir = fs::path(home) / ".local" / "state" / "memoria";
	if (dir.empty()) {
		why = {"no --store, and neither STATE_DIRECTORY, XDG_STATE_HOME nor HOME says"
		       " where to keep the games"};
		return false;
	}
	std::error_code error;
	if (fs::create_directories(dir, error) && !error)
		fs::permissions(dir, fs::perms::owner_all, error);
	if (error) {
		why = {"cannot make " + dir.string() + ": " + error.message()};
		return false;
	}
	where = (dir / "games.sqlite3").string();
	return true;
}

// Opens the store and, for --check, says what it holds.
bool open_store(const options &o, game_store &store, failure &why)
{
	std::string where = o.store;
	if (where.empty() && !default_store(where, why))
		return false;
	if (!store.open(where, why))
		return false;
	store_report report;
	if (o.check) {
		if (!store.report(report, why))
			return false;
		std::cout << "store: " << (is_postgresql(where) ? "PostgreSQL" : where) << "\n"
			  << "schema version: " << report.schema << "\n"
			  << "games: " << report.unfinished + report.finished << " ("
			  << report.unfinished << " unfinished, " << report.finished
			  << " finished)\n"
			  << "changes: " << report.changes << "\n";
	}
	return true;
}

// Judges one move with the judge the server will use, before it takes any
// player: a judge that cannot judge is found at start, not at a first move.
bool probe_judge(const judge_setup &judge, const fs::path &dir, failure &why)
{
	std::error_code error;
	fs::create_directory(dir, error);
	judgement judged;
	const bool ruled = !error && ask_memoria(judge, dir, 0, 1, judged, why);
	fs::remove_all(dir, error);
	if (ruled && judged.verdict != 1)
		why = {"it judged the pair 0 1 not a pair"};
	return ruled && judged.verdict == 1;
}

// Raises the soft descriptor limit to the hard one: every connection is a
// descriptor. Says so when even that is below what the caps need.
void raise_descriptor_limit(const options &o)
{
	rlimit limit{};
	if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
		return;
	limit.rlim_cur = limit.rlim_max;
	(void)setrlimit(RLIMIT_NOFILE, &limit);
	const auto needed = static_cast<rlim_t>(o.max_connections) + 64;
	if (limit.rlim_cur < needed)
		std::cerr << "jogar-web: the descriptor limit is " << limit.rlim_cur
			  << ", below the " << needed << " that --max-connections "
			  << o.max_connections << " needs: connections past it wait\n";
}

// The Host values that requests may name: the bound address and port, and
// the names given, alone or with the port.
std::vector<std::string> reachable_as(const options &o, unsigned short port)
{
	const bool ipv6 = o.host.find(':') != std::string::npos;
	const std::string p = ":" + std::to_string(port);
	std::vector<std::string> hosts{(ipv6 ? "[" + o.host + "]" : o.host) + p};
	if (o.host == "127.0.0.1" || o.host == "::1")
		hosts.push_back("localhost" + p);
	for (const std::string &name : o.hosts) {
		hosts.push_back(name);
		hosts.push_back(name + p);
	}
	return hosts;
}

// Stops taking players, lets the moves under way finish within the grace,
// then stops the server's thread whatever the connections do.
void stop_when_settled(net::io_context &io, net::steady_timer &timer, game_service &service,
		       std::chrono::steady_clock::time_point give_up)
{
	if (service.busy == 0 || std::chrono::steady_clock::now() >= give_up)
		return io.stop();
	timer.expires_after(std::chrono::milliseconds(20));
	timer.async_wait([&io, &timer, &service, give_up](const boost::system::error_code &) {
		stop_when_settled(io, timer, service, give_up);
	});
}

// Removes, on the pool, the games past their keeping: a batch a transaction,
// so that no move waits for more than one batch.
void tidy_store(game_service &service, std::chrono::hours keep_finished)
{
	const std::int64_t now = unix_ms();
	const auto ms = [](std::chrono::hours h) {
		return std::chrono::duration_cast<std::chrono::milliseconds>(h).count();
	};
	int removed = tidy_batch;
	failure why;
	for (int round = 0; round < tidy_batches && removed == tidy_batch; ++round) {
		if (!service.store->tidy(now - ms(keep_finished), now - ms(unfinished_kept),
					 tidy_batch, removed, why)) {
			std::cerr << "jogar-web: tidying the store: " << why.reason << "\n";
			return;
		}
	}
}

void tidy_now_and_then(net::steady_timer &timer, game_service &service,
		       std::chrono::hours keep_finished)
{
	service.run([&service, keep_finished] { tidy_store(service, keep_finished); });
	timer.expires_after(tidy_every);
	timer.async_wait([&timer, &service, keep_finished](const boost::system::error_code &ec) {
		if (!ec)
			tidy_now_and_then(timer, service, keep_finished);
	});
}

int serve(const options &o, game_service &service, const page_files &page)
{
	net::io_context io(1);
	const unsigned threads = std::max(2U, 2 * std::thread::hardware_concurrency());
	net::thread_pool workers(threads);
	service.run = [&workers](std::function<void()> work) {
		net::post(workers, std::move(work));
	};
	server_config config;
	config.limits.max_connections = static_cast<std::size_t>(o.max_connections);
	config.limits.max_connections_per_client =
		static_cast<std::size_t>(o.max_connections_per_client);
	config.limits.idle_timeout = std::chrono::seconds(o.idle_timeout_s);
	config.proxy = o.proxy;
	http_server server(io, config,
			   [&service, &page](const http_call &call, const reply_sink &done) {
				   route(service, page, call, done);
			   });
	// Each kept change goes to the sockets that follow its game: those on
	// this server at once, those on the others through the store.
	service.changed = [&server](const std::string &id, const std::string &answer) {
		server.publish(id, change_message(id, answer));
	};
	change_listener listener;
	if (is_postgresql(o.store)) {
		const std::string tag = std::to_string(random_seed());
		service.store->announce_as(tag);
		listener.start(o.store, [&server, tag](const std::string &payload) {
			const std::size_t one = payload.find('\n');
			const std::size_t two = payload.find('\n', one + 1);
			if (one == std::string::npos || two == std::string::npos ||
			    payload.compare(0, one, tag) == 0)
				return;
			const std::string id = payload.substr(one + 1, two - one - 1);
			server.publish(id, change_message(id, payload.substr(two + 1)));
		});
	}
	failure why;
	if (!server.listen(o.host, static_cast<unsigned short>(o.port), why)) {
		std::cerr << "jogar-web: " << why.reason << "\n";
		return 1;
	}
	// The hosts are known once the port is; no request is read before io
	// runs.
	server.set_hosts(reachable_as(o, server.port()));
	net::signal_set stop_signals(io, SIGINT, SIGTERM);
	net::steady_timer settle(io);
	stop_signals.async_wait([&](const boost::system::error_code &ec, int) {
		if (ec)
			return;
		server.stop_accepting();
		stop_when_settled(io, settle, service,
				  std::chrono::steady_clock::now() + stop_grace);
	});
	net::steady_timer tidier(io);
	tidy_now_and_then(tidier, service, std::chrono::hours(24 * o.keep_finished_days));
	const bool ipv6 = o.host.find(':') != std::string::npos;
	std::cout << "http://" << (ipv6 ? "[" + o.host + "]" : o.host) << ":" << server.port()
		  << "/" << std::endl;
	io.run();
	workers.stop();
	workers.join();
	return 0;
}

// Serves; a failure of the system that Asio reports by throwing (no thread,
// no descriptor) ends it with one line, and its folder is still removed.
int serve_reporting(const options &o, game_service &service, const page_files &page)
{
	try {
		return serve(o, service, page);
	} catch (const std::exception &e) {
		std::cerr << "jogar-web: " << e.what() << "\n";
		return 1;
	}
}

// The server's life from the command line to its exit status.
int run_web(int argc, char **argv)
{
	options o;
	const bool parsed = parse_web_options(argc, argv, o);
	if (const int status = command_line_status("jogar-web", usage, argc, argv, parsed);
	    status >= 0)
		return status;
	(void)signal(SIGPIPE, SIG_IGN); // a player gone mid-answer is no reason to die
	game_store store;
	failure why;
	if (!open_store(o, store, why)) {
		std::cerr << "jogar-web: " << why.reason << "\n";
		return 1;
	}
	if (o.check)
		return 0;
	raise_descriptor_limit(o);
	const fs::path beside = own_folder(argv[0]);
	game_service service;
	service.store = &store;
	service.judge.program =
		o.memoria.empty() ? installed_memoria(beside) : fs::absolute(o.memoria);
	service.judge.deadline = std::chrono::milliseconds(o.judge_timeout_ms);
	service.max_games = o.max_games;
	service.max_games_per_client = o.max_games_per_client;
	page_files page;
	if (!read_page(o.page.empty() ? find_page(beside) : o.page, page, why)) {
		std::cerr << "jogar-web: " << why.reason << "\n";
		return 1;
	}
	remove_abandoned_roots();
	game_root root;
	if (!make_game_root(root, why)) {
		std::cerr << "jogar-web: " << why.reason << "\n";
		return 1;
	}
	service.scratch = root.path;
	int status = 1;
	if (!probe_judge(service.judge, root.path / "probe", why))
		std::cerr << "jogar-web: " << service.judge.program.string()
			  << " cannot judge a move: " << why.reason << "\n";
	else
		status = serve_reporting(o, service, page);
	remove_game_root(root);
	return status;
}

} // namespace

int main(int argc, char **argv)
{
	try {
		return run_web(argc, argv);
	} catch (const std::exception &e) {
		std::cerr << "jogar-web: " << e.what() << "\n";
		return 1;
	}
}
