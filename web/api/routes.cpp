#include "routes.h"

#include <regex>

#include "files.h"

namespace {

api_reply json_error(int status, const std::string &message)
{
	return {status, error_body(message)};
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

void route(game_store &store, const page_files &page, const http_call &call, const reply_sink &done)
{
	static const std::regex game_path("/api/games/([0-9a-f]{32})(/flip|/moves)?");
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
	if (call.path == "/api/games")
		return create_game(store, call.client, done);
	const std::string id = parts[1];
	if (!parts[2].matched)
		return show_game(store, id, done);
	if (parts[2] == "/flip")
		return flip_card(store, id, call.body, done);
	make_move(store, id, call.body, done);
}
