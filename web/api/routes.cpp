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
	} files[] = {{"/", "index.html", "text/html; charset=utf-8"},
		     {"/style.css", "style.css", "text/css; charset=utf-8"},
		     {"/game.js", "game.js", "text/javascript; charset=utf-8"}};
	for (const auto &f : files) {
		api_reply &file = page.by_path[f.path];
		file.type = f.type;
		if (!read_file(dir / f.file, file.body, why))
			return false;
	}
	return true;
}

void route(game_service &service, const page_files &page, const http_call &call,
	   const reply_sink &done)
{
	static const std::regex game_path("/api/games/([0-9a-f]{32})(/flip|/moves|/computer)?");
	std::smatch parts;
	const auto file = page.by_path.find(call.path);
	std::string allowed;
	if (file != page.by_path.end())
		allowed = "GET";
	else if (call.path == "/api/games")
		allowed = "POST";
	else if (std::regex_match(call.path, parts, game_path))
		allowed = parts[2].matched ? "POST" : "GET";
	else
		return done(json_error(404, "not found"));
	if (call.method != allowed) {
		api_reply refused = json_error(405, "that method is not allowed here");
		refused.allow = allowed;
		return done(refused);
	}
	if (file != page.by_path.end())
		return done(file->second);
	// No match was tried for the path that creates a game.
	const std::string id = parts.ready() ? parts.str(1) : "";
	const std::string action = parts.ready() ? parts.str(2) : "";
	on_pool(
		service,
		[&service, call, id, action]() {
			if (call.path == "/api/games")
				return create_game(service, call.client, call.body);
			if (action.empty())
				return show_game(service, id);
			if (action == "/flip")
				return flip_card(service, id, call.body);
			if (action == "/computer")
				return computer_step(service, id, call.body);
			return make_move(service, id, call.body);
		},
		done);
}
