// Reading a request's JSON body strictly: an object of integer fields and
// nothing else, no key twice, no -0. A body that is read two ways by two
// readers is a body that can mean two things.
#ifndef MEMORIA_WEB_API_BODY_H
#define MEMORIA_WEB_API_BODY_H

#include <cstdint>
#include <string>
#include <vector>

#include "failure.h"
#include "game.h"

// Reads the body as an object holding exactly the named fields, each a
// place 0 to 15, in the order named, and optionally "version", the game's
// version that the request was made from (-1 when absent). An empty body is
// an empty object.
bool read_places(const std::string &body, const std::vector<const char *> &names,
		 std::vector<int> &places, std::int64_t &version, failure &wrong);

// Reads the body of a new game: empty or {} for a game alone, or an object
// holding only "players", one to four of them, each an object holding only
// a "name" (1 to 40 bytes, no control characters) for a person or a
// "computer" level ("easy", "medium", "hard"); at least one a person; and
// optionally "devices": 2, for two people each on a device of their own.
bool read_players(const std::string &body, std::vector<player> &players, bool &devices,
		  failure &wrong);

#endif
