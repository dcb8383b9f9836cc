// The one folder under which a server judges its games, and what a server
// killed before it could remove its folder leaves: each root holds a lock
// that its server keeps while it runs, so a root whose lock anyone can take
// has no server and goes.
#ifndef MEMORIA_WEB_GAME_ROOT_H
#define MEMORIA_WEB_GAME_ROOT_H

#include <filesystem>

#include "failure.h"

struct game_root {
	std::filesystem::path path;
	int lock_fd = -1;
};

bool make_game_root(game_root &root, failure &why);
void remove_game_root(game_root &root);

// Removes the roots under the temporary folder whose server is gone.
void remove_abandoned_roots();

#endif
