#include "routes.h"

#include <iostream>
#include <regex>

#include "files.h"

namespace {

api_reply json_error(int status, const std::string &message)
{
	return {status, error_body(message)};
}

// Runs a handler on the pool, counted as under way until it has answered.
// A failure that the handler reports by throwing (memory, a broken row) is
// a 500, never the end of the server.
void on_pool(game_service &service, std::function<api_reply()> handler, const reply_sink &done)
{
	++service.busy;
	service.run([&service, handler = std::move(handler), done] {
		api_reply reply;
		try {
			reply = handler();
		} catch (const std::exception &e) {
			std::cerr << "jogar-web: " << e.what() << "\n";
			reply = json_error(500, "the server failed; try again");
		}
		done(reply);
		--service.busy;
	});
}

} // namespace

bool read_page(const std::filesystem::path &dir, page_files &page, failure &why)
{
	const struct {
		const char *path, *file, *type;
		bool built = false; // by the wasm preset, not always there
	} files[] = {{"/", "index.html", "text/html; charset=utf-8"},
		     {"/style.css", "style.css", "text/css; charset=utf-8"},
		     {"/words.js", "words.js", "text/javascript; charset=utf-8"},
		     {"/game.js", "game.js", "text/javascript; charset=utf-8"},
		     {"/favicon.svg", "favicon.svg", "image/svg+xml"},
		     {"/icon-192.png", "icon-192.png", "image/png"},
		     {"/icon-512.png", "icon-512.png", "image/png"},
		     {"/manifest.webmanifest", "manifest.webmanifest", "application/manifest+json"},
		     {"/sw.js", "sw.js", "text/javascript; charset=utf-8"},
		     {"/judge.mjs", "judge.mjs", "text/javascript; charset=utf-8"},
		     {"/offline.mjs", "offline.mjs", "text/javascript; charset=utf-8"},
		     {"/memoria.wasm", "memoria.wasm", "application/wasm", true},
		     {"/game.wasm", "game.wasm", "application/wasm", true}};
	// The judge and the game model for the page, where they were built: a
	// page without them plays on the server alone.
	std::error_code ignored;
	const bool offline = std::filesystem::exists(dir / "memoria.wasm", ignored) &&
			     std::filesystem::exists(dir / "game.wasm", ignored);
	for (const auto &f : files) {
		if (f.built && !offline)
			continue;
		api_reply &file = page.by_path[f.path];
		file.type = f.type;
		if (!read_file(dir / f.file, file.body, why))
			return false;
	}
	return true;
}

namespace {

// The handler of an API request, on the pool: `id` and `action` are from
// the path, empty for the paths that name no game.
api_reply answer_api(game_service &service, const http_call &call, const std::string &id,
		     const std::string &action)
{
	if (call.path == "/api/games")
		return create_game(service, call.client, call.body, call.browser);
	if (call.path == "/api/bests")
		return show_bests(service, call.browser);
	if (action == "/pause" || action == "/resume")
		return pause_game(service, id, action == "/pause");
	if (action.empty())
		return show_game(service, id, call.seat);
	if (action == "/flip")
		return flip_card(service, id, call.body, call.seat);
	if (action == "/seats")
		return take_seat(service, id, call.invite);
	if (action == "/computer")
		return computer_step(service, id, call.body);
	return make_move(service, id, call.body, call.seat);
}

// The method a path takes, or empty when it is not served.
std::string method_of(const page_files &page, const std::string &path, std::smatch &parts)
{
	static const std::regex game_path(
		"/api/games/([0-9a-f]{32})(/flip|/moves|/computer|/seats|/pause|/resume|/events)?");
	if (page.by_path.count(path) != 0 || path == "/api/bests")
		return "GET";
	if (path == "/api/games")
		return "POST";
	if (std::regex_match(path, parts, game_path))
		return !parts[2].matched || parts.str(2) == "/events" ? "GET" : "POST";
	return "";
}

} // namespace

void route(game_service &service, const page_files &page, const http_call &call,
	   const reply_sink &done)
{
	std::smatch parts;
	const std::string allowed = method_of(page, call.path, parts);
	if (allowed.empty())
		return done(json_error(404, "not found"));
	if (call.method != allowed) {
		api_reply refused = json_error(405, "that method is not allowed here");
		refused.allow = allowed;
		return done(refused);
	}
	const auto file = page.by_path.find(call.path);
	if (file != page.by_path.end())
		return done(file->second);
	// No match was tried for the paths that name no game.
	const std::string id = parts.ready() ? parts.str(1) : "";
	const std::string action = parts.ready() ? parts.str(2) : "";
	// The server upgrades a WebSocket before it routes: here is a plain GET.
	if (action == "/events")
		return done(json_error(426, "this path takes a WebSocket"));
	on_pool(
		service,
		[&service, call, id, action]() { return answer_api(service, call, id, action); },
		done);
}
