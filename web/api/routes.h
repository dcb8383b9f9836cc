// Which request goes where: the page's files, served from memory, and the
// game API. A path that is not served is a 404; a method that a path does
// not take, a 405 that names the one it does.
#ifndef MEMORIA_WEB_API_ROUTES_H
#define MEMORIA_WEB_API_ROUTES_H

#include <filesystem>
#include <map>
#include <string>

#include "failure.h"
#include "games.h"

// The page's files by path, read once at start-up: no request names a file.
struct page_files {
	std::map<std::string, api_reply> by_path;
};

bool read_page(const std::filesystem::path &dir, page_files &page, failure &why);

struct http_call {
	std::string method;
	std::string path; // the target, without a query
	std::string body;
	std::string client;  // the client's address, as the caps count it
	std::string seat;    // the X-Memoria-Seat header: a seat's token
	std::string invite;  // the X-Memoria-Invite header: a link's invitation
	std::string browser; // the X-Memoria-Browser header: a browser's own ID
};

// Answers the page's files at once; hands the API's requests to the
// service's pool, answering through done from there.
void route(game_service &service, const page_files &page, const http_call &call,
	   const reply_sink &done);

#endif
