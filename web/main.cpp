// jogar-web: the pair-matching game in a browser. It serves the page and a
// JSON API, deals each game's cards in an order only it knows, and has every
// move judged by memoria through the connector file of the game's own folder,
// as any front end would.
//
// When it is ready it prints its address, http://HOST:PORT/, on stdout. It
// ends on SIGINT or SIGTERM, removing every game's folder. jogar-web(6) is its
// manual.
#include <httplib.h>
#include <pthread.h>
#include <signal.h>

#include <condition_variable>
#include <filesystem>
#include <iostream>
#include <regex>
#include <string>
#include <system_error>
#include <thread>

#include "exchange.h"
#include "files.h"
#include "usage.h"
#include "games.h"

namespace fs = std::filesystem;

namespace {

const char usage[] = "usage: jogar-web [--host ADDRESS] [--port N] [--memoria PROGRAM] "
		     "[--max-games N]\n"
		     "                 [--max-games-per-client N] [--judge-timeout MS] "
		     "[--page FOLDER]\n"
		     "       jogar-web --help | --version\n";

struct options {
	std::string host = "127.0.0.1";
	int port = 8080;
	fs::path memoria;
	fs::path page;
	long max_games = 1000;
	long max_games_per_client = 20;
	long judge_timeout_ms = 2000;
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
	for (int i = 1; i < argc; ++i) {
		const std::string arg = argv[i];
		if (i + 1 >= argc)
			return false;
		const std::string value = argv[++i];
		long number = 0;
		if (arg == "--host")
			o.host = value == "localhost" ? "127.0.0.1" : value;
		else if (arg == "--port" && parse_number(value, 0, 65535, number))
			o.port = static_cast<int>(number);
		else if (arg == "--memoria")
			o.memoria = value;
		else if (arg == "--page")
			o.page = value;
		else if (arg == "--max-games" && parse_number(value, 1, 1000000, number))
			o.max_games = number;
		else if (arg == "--max-games-per-client" && parse_number(value, 1, 1000000, number))
			o.max_games_per_client = number;
		else if (arg == "--judge-timeout" && parse_number(value, 1, 600000, number))
			o.judge_timeout_ms = number;
		else
			return false;
	}
	return true;
}

// The page's folder: beside the program in a build, under share/ once
// installed.
fs::path find_page(const fs::path &beside)
{
	for (const fs::path &dir : {beside / "page", beside / ".." / "share" / "memoria" / "web"}) {
		if (fs::exists(dir / "index.html"))
			return dir;
	}
	return {};
}

// The page's three files, read once at start-up: no request ever names a file.
bool serve_page(httplib::Server &server, const fs::path &dir)
{
	const struct {
		const char *route, *file, *type;
	} files[] = {{"/", "index.html", "text/html; charset=utf-8"},
		     {"/style.css", "style.css", "text/css; charset=utf-8"},
		     {"/game.js", "game.js", "text/javascript; charset=utf-8"}};
	for (const auto &f : files) {
		auto text = std::make_shared<std::string>();
		failure why;
		if (!read_file(dir / f.file, *text, why)) {
			std::cerr << "jogar-web: " << why.reason << "\n";
			return false;
		}
		const std::string type = f.type;
		server.Get(f.route, [text, type](const httplib::Request &, httplib::Response &res) {
			res.set_content(*text, type);
		});
	}
	return true;
}

void send(httplib::Response &res, const api_reply &reply)
{
	res.status = reply.status;
	res.set_content(reply.body, "application/json");
}

// A handler's answer, which comes at once here: the judge runs on the
// request's own thread.
template <class Handler>
httplib::Server::Handler answer(Handler handler)
{
	return [handler](const httplib::Request &req, httplib::Response &res) {
		handler(req, [&res](const api_reply &reply) { send(res, reply); });
	};
}

// The client's address as the per-address caps count it: an IPv6 client is
// counted by its /64, which one host usually holds whole.
std::string client_of(const httplib::Request &req)
{
	const std::string &address = req.remote_addr;
	if (address.find(':') == std::string::npos)
		return address;
	std::string key;
	int groups = 0;
	for (std::size_t at = 0; at <= address.size() && groups < 4; ++groups) {
		const std::size_t end = std::min(address.find(':', at), address.size());
		if (end == at)
			break; // a "::" cuts the prefix short: what came before names it
		key += address.substr(at, end - at) + ":";
		at = end + 1;
	}
	return key + ":/64";
}

// The one method that a path of the server's takes, or an empty string for
// a path it does not serve.
std::string allowed_method(const std::string &path)
{
	static const std::regex game("/api/games/[0-9a-f]{32}");
	static const std::regex change("/api/games/[0-9a-f]{32}/(flip|moves)");
	if (path == "/api/games" || std::regex_match(path, change))
		return "POST";
	if (path == "/" || path == "/style.css" || path == "/game.js" ||
	    std::regex_match(path, game))
		return "GET";
	return "";
}

void serve_api(httplib::Server &server, game_store &store)
{
	const std::string game = "/api/games/([0-9a-f]{32})";
	using request = const httplib::Request &;
	server.Post("/api/games", answer([&store](request req, const reply_sink &done) {
			    create_game(store, client_of(req), done);
		    }));
	server.Get(game, answer([&store](request req, const reply_sink &done) {
			   show_game(store, req.matches[1], done);
		   }));
	server.Post(game + "/flip", answer([&store](request req, const reply_sink &done) {
			    flip_card(store, req.matches[1], req.body, done);
		    }));
	server.Post(game + "/moves", answer([&store](request req, const reply_sink &done) {
			    make_move(store, req.matches[1], req.body, done);
		    }));
	// Whatever the library answers by itself (an unknown route, a body too
	// large) gets a JSON body too.
	server.set_error_handler([](const httplib::Request &req, httplib::Response &res) {
		if (!res.body.empty())
			return;
		if (res.status == 404 && !allowed_method(req.path).empty()) {
			res.status = 405;
			res.set_header("Allow", allowed_method(req.path));
			res.set_content(error_body("that method is not allowed here"),
					"application/json");
			return;
		}
		const char *what = res.status == 404   ? "not found"
				   : res.status == 413 ? "the body is over 1 KiB"
						       : "bad request";
		res.set_content(error_body(what), "application/json");
	});
	server.set_payload_max_length(1024);
	server.set_keep_alive_max_count(1000);
	server.set_keep_alive_timeout(2);
	// Small answers go out at once, not after a delayed acknowledgement.
	server.set_tcp_nodelay(true);
	// Each kept-alive connection holds a worker, so there are enough for
	// many players at once.
	server.new_task_queue = [] { return new httplib::ThreadPool(64); };
}

// Judges one move with the judge the server will use, before it takes any
// player: a judge that cannot judge is found at start, not at a first move.
bool probe_judge(const judge_setup &judge, failure &why)
{
	std::filesystem::path dir;
	if (!make_scratch_folder("jogar-web-probe", dir, why))
		return false;
	judgement judged;
	const bool ruled = ask_memoria(judge, dir, 0, 1, judged, why);
	std::error_code ignored;
	std::filesystem::remove_all(dir, ignored);
	if (ruled && judged.verdict != 1)
		why = {"it judged the pair 0 1 not a pair"};
	return ruled && judged.verdict == 1;
}

// Tells the idle-game reaper to end.
struct stopper {
	std::mutex lock;
	std::condition_variable idle;
	bool done = false;
};

void reap_idle_games(game_store &store, stopper &s)
{
	std::unique_lock<std::mutex> hold(s.lock);
	while (!s.idle.wait_for(hold, std::chrono::minutes(1), [&s] { return s.done; })) {
		hold.unlock();
		end_idle_games(store);
		hold.lock();
	}
}

} // namespace

int main(int argc, char **argv)
{
	options o;
	const bool parsed = parse_web_options(argc, argv, o);
	if (const int status = command_line_status("jogar-web", usage, argc, argv, parsed);
	    status >= 0)
		return status;
	const fs::path beside = own_folder(argv[0]);
	game_store store;
	store.judge.program =
		o.memoria.empty() ? installed_memoria(beside) : fs::absolute(o.memoria);
	store.max_games = static_cast<std::size_t>(o.max_games);
	store.max_games_per_client = static_cast<std::size_t>(o.max_games_per_client);
	store.judge.deadline = std::chrono::milliseconds(o.judge_timeout_ms);
	store.run_judge = [](const std::function<void()> &work) { work(); };
	failure why;
	if (!probe_judge(store.judge, why)) {
		std::cerr << "jogar-web: " << store.judge.program.string()
			  << " cannot judge a move: " << why.reason << "\n";
		return 1;
	}
	const fs::path page = o.page.empty() ? find_page(beside) : o.page;

	if (!make_scratch_folder("jogar-web", store.root, why)) {
		std::cerr << "jogar-web: " << why.reason << "\n";
		return 1;
	}

	sigset_t stop_signals;
	sigemptyset(&stop_signals);
	sigaddset(&stop_signals, SIGINT);
	sigaddset(&stop_signals, SIGTERM);
	sigaddset(&stop_signals, SIGUSR1); // from main: the server has stopped by itself
	pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
	(void)signal(SIGPIPE, SIG_IGN); // a player gone mid-answer is no reason to die

	httplib::Server server;
	int status = 1;
	if (serve_page(server, page)) {
		serve_api(server, store);
		const int port = o.port == 0 ? server.bind_to_any_port(o.host)
					     : (server.bind_to_port(o.host, o.port) ? o.port : -1);
		if (port < 0) {
			std::cerr << "jogar-web: cannot listen on " << o.host << " port " << o.port
				  << "\n";
		} else {
			stopper s;
			// Every thread blocks the stop signals; this one waits for them.
			std::thread signals([&server, &stop_signals] {
				int got = 0;
				sigwait(&stop_signals, &got);
				server.stop();
			});
			std::thread reaper([&store, &s] { reap_idle_games(store, s); });
			const bool ipv6 = o.host.find(':') != std::string::npos;
			std::cout << "http://" << (ipv6 ? "[" + o.host + "]" : o.host) << ":"
				  << port << "/" << std::endl;
			status = server.listen_after_bind() ? 0 : 1;
			// Whether a signal or a failure ended it, the two helpers go.
			pthread_kill(signals.native_handle(), SIGUSR1);
			signals.join();
			{
				const std::lock_guard<std::mutex> hold(s.lock);
				s.done = true;
			}
			s.idle.notify_all();
			reaper.join();
		}
	}
	end_all_games(store);
	std::error_code ignored;
	fs::remove_all(store.root, ignored);
	return status;
}
