// Load on jogar-web: many games played at once through its HTTP API, each
// move judged by the real memoria.
//
// usage: web_load JOGAR_WEB MEMORIA [GAMES [SECONDS]]
// Measures, one after the other: the bare spawn rate of memoria (a loop that
// only starts it and waits), the server's saturated throughput (closed loop,
// as fast as it answers), and an open loop of GAMES games (500) each making
// a move a second for SECONDS (10), with the latency of each move taken from
// the time it was due, so that a slow answer cannot hide the ones behind it.
// Prints one "name value" line a figure.
#include <fcntl.h>
#include <httplib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <thread>
#include <vector>

using nlohmann::json;
using clock_type = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

double seconds_since(clock_type::time_point start)
{
	return std::chrono::duration<double>(clock_type::now() - start).count();
}

// memoria started and waited for, over and over, in a folder of its own.
double bare_spawn_rate(const std::string &memoria, double seconds)
{
	const fs::path dir = fs::temp_directory_path() / ("web-load-" + std::to_string(getpid()));
	fs::create_directories(dir);
	std::ofstream(dir / "conector.txt") << "2 3\r\n";
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

// One game as a player sees it: the places found so far.
struct player {
	std::string id;
	std::vector<bool> found = std::vector<bool>(16, false);
	std::mt19937 random{std::random_device{}()};
};

struct tally {
	std::atomic<long> moves{0};
	std::atomic<long> failed{0};
	std::atomic<long> mismatched{0};
	std::mutex lock;
	std::vector<double> latencies_ms;
};

bool new_game(httplib::Client &client, player &p)
{
	const auto res = client.Post("/api/games", "{}", "application/json");
	if (!res || res->status != 201) {
		std::fprintf(stderr, "web_load: no new game: %s\n",
			     res ? (std::to_string(res->status) + " " + res->body).c_str()
				 : httplib::to_string(res.error()).c_str());
		return false;
	}
	p.id = json::parse(res->body)["game"].get<std::string>();
	p.found.assign(16, false);
	return true;
}

// Makes one move of two places not yet found; checks that the reply echoes
// it and that the verdict agrees with the faces shown.
void make_move(httplib::Client &client, player &p, tally &t)
{
	std::vector<int> open;
	for (int place = 0; place < 16; ++place) {
		if (!p.found[static_cast<std::size_t>(place)])
			open.push_back(place);
	}
	std::shuffle(open.begin(), open.end(), p.random);
	const json body = {{"first", open[0]}, {"second", open[1]}};
	const auto res = client.Post(("/api/games/" + p.id + "/moves").c_str(), body.dump(),
				     "application/json");
	if (!res || res->status != 200) {
		if (t.failed++ < 5)
			std::fprintf(stderr, "web_load: move failed: %s\n",
				     res ? (std::to_string(res->status) + " " + res->body).c_str()
					 : httplib::to_string(res.error()).c_str());
		return;
	}
	const json reply = json::parse(res->body, nullptr, false);
	const bool echoed = !reply.is_discarded() && reply.value("first", -1) == open[0] &&
			    reply.value("second", -1) == open[1] && reply["values"].is_array();
	if (!echoed || (reply["values"][0] == reply["values"][1]) != (reply["verdict"] == 1)) {
		++t.mismatched;
		return;
	}
	++t.moves;
	if (reply["verdict"] == 1)
		p.found[static_cast<std::size_t>(open[0])] =
			p.found[static_cast<std::size_t>(open[1])] = true;
	if (reply["finished"] == true && !new_game(client, p))
		++t.failed;
}

// As fast as the server answers: clients each playing one game after another.
double saturated_rate(const std::string &host, int port, int clients, double seconds)
{
	tally t;
	std::vector<std::thread> threads;
	const auto start = clock_type::now();
	for (int c = 0; c < clients; ++c) {
		threads.emplace_back([&] {
			httplib::Client client(host, port);
			client.set_keep_alive(true);
			client.set_tcp_nodelay(true);
			player p;
			if (!new_game(client, p))
				return;
			while (seconds_since(start) < seconds)
				make_move(client, p, t);
		});
	}
	for (std::thread &th : threads)
		th.join();
	return static_cast<double>(t.moves) / seconds_since(start);
}

// `games` games, a move a second each, spread evenly over each second.
void open_loop(const std::string &host, int port, int games, double seconds, int threads_count,
	       tally &t)
{
	std::vector<std::thread> threads;
	// The games are all made before the first move is due.
	std::atomic<int> ready{0};
	std::atomic<long> start_us{0};
	for (int th = 0; th < threads_count; ++th) {
		// Connections come one at a time, as players arrive: the library's
		// listen backlog is five.
		std::this_thread::sleep_for(std::chrono::milliseconds(20));
		threads.emplace_back([&, th] {
			httplib::Client client(host, port);
			client.set_keep_alive(true);
			client.set_tcp_nodelay(true);
			std::vector<player> mine;
			std::vector<int> offsets;
			for (int g = th; g < games; g += threads_count) {
				mine.emplace_back();
				offsets.push_back(g);
				if (!new_game(client, mine.back()))
					++t.failed;
			}
			if (++ready == threads_count)
				start_us =
					std::chrono::duration_cast<std::chrono::microseconds>(
						(clock_type::now() + std::chrono::milliseconds(100))
							.time_since_epoch())
						.count();
			while (start_us == 0)
				std::this_thread::sleep_for(std::chrono::milliseconds(1));
			const clock_type::time_point start{
				std::chrono::microseconds(start_us.load())};
			std::vector<double> latencies;
			for (int second = 0; second < static_cast<int>(seconds); ++second) {
				for (std::size_t i = 0; i < mine.size(); ++i) {
					const auto due =
						start +
						std::chrono::microseconds(static_cast<long>(
							1e6 *
							(second + offsets[i] / double(games))));
					std::this_thread::sleep_until(due);
					make_move(client, mine[i], t);
					latencies.push_back(
						std::chrono::duration<double, std::milli>(
							clock_type::now() - due)
							.count());
				}
			}
			const std::lock_guard<std::mutex> hold(t.lock);
			t.latencies_ms.insert(t.latencies_ms.end(), latencies.begin(),
					      latencies.end());
		});
	}
	for (std::thread &th : threads)
		th.join();
}

double percentile(std::vector<double> values, double p)
{
	if (values.empty())
		return -1;
	std::sort(values.begin(), values.end());
	return values[static_cast<std::size_t>(p * static_cast<double>(values.size() - 1))];
}

// Starts jogar-web on a free port and reads the address it prints.
pid_t start_server(const std::string &program, const std::string &memoria, int &port)
{
	int out[2];
	if (pipe(out) != 0)
		return -1;
	posix_spawn_file_actions_t actions;
	posix_spawn_file_actions_init(&actions);
	posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
	// Every game of the load comes from one address.
	std::vector<std::string> words = {
		program, "--port", "0", "--memoria", memoria, "--max-games-per-client", "100000"};
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
	if (argc < 3) {
		std::fprintf(stderr, "usage: web_load JOGAR_WEB MEMORIA [GAMES [SECONDS]]\n");
		return 2;
	}
	const std::string memoria = fs::absolute(argv[2]).string();
	const int games = argc > 3 ? std::atoi(argv[3]) : 500;
	const double seconds = argc > 4 ? std::atof(argv[4]) : 10;
	int port = 0;
	const pid_t server = start_server(argv[1], memoria, port);
	if (server < 0) {
		std::fprintf(stderr, "web_load: cannot start %s\n", argv[1]);
		return 1;
	}
	const double bare = bare_spawn_rate(memoria, 5);
	const double saturated = saturated_rate("127.0.0.1", port, 8, 5);
	tally t;
	open_loop("127.0.0.1", port, games, seconds, 32, t);
	kill(server, SIGTERM);
	int status = 0;
	waitpid(server, &status, 0);
	std::printf("bare_spawn_per_s %.0f\n", bare);
	std::printf("saturated_moves_per_s %.0f\n", saturated);
	std::printf("saturated_ratio %.2f\n", saturated / bare);
	std::printf("open_loop_games %d\n", games);
	std::printf("open_loop_seconds %.0f\n", seconds);
	std::printf("open_loop_moves %ld\n", t.moves.load());
	std::printf("p50_ms %.2f\n", percentile(t.latencies_ms, 0.50));
	std::printf("p99_ms %.2f\n", percentile(t.latencies_ms, 0.99));
	std::printf("max_ms %.2f\n", percentile(t.latencies_ms, 1.0));
	std::printf("failed %ld\n", t.failed.load());
	std::printf("mismatched %ld\n", t.mismatched.load());
	std::printf("server_exit %d\n", WIFEXITED(status) ? WEXITSTATUS(status) : -1);
	return 0;
}
