#include "game_root.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <system_error>

#include "files.h"

namespace fs = std::filesystem;

namespace {

const char prefix[] = "jogar-web";
const char lock_name[] = "server.lock";

int open_lock(const fs::path &root)
{
	int fd = -1;
	do
		fd = open((root / lock_name).c_str(), O_RDWR | O_CLOEXEC);
	while (fd < 0 && errno == EINTR);
	return fd;
}

} // namespace

// The lock is taken under another name and then renamed into place, so that
// a server looking for abandoned roots never finds it before it is held.
bool make_game_root(game_root &root, failure &why)
{
	if (!make_scratch_folder(prefix, root.path, why))
		return false;
	const fs::path taking = root.path / "server.lock.new";
	do
		root.lock_fd = open(taking.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
	while (root.lock_fd < 0 && errno == EINTR);
	if (root.lock_fd >= 0 && flock(root.lock_fd, LOCK_EX | LOCK_NB) == 0 &&
	    rename(taking.c_str(), (root.path / lock_name).c_str()) == 0)
		return true;
	why = system_failure("cannot lock " + (root.path / lock_name).string(), errno);
	remove_game_root(root);
	return false;
}

void remove_game_root(game_root &root)
{
	std::error_code ignored;
	fs::remove_all(root.path, ignored);
	if (root.lock_fd >= 0)
		(void)close(root.lock_fd);
	root.lock_fd = -1;
}

void remove_abandoned_roots()
{
	std::error_code error;
	const fs::path temp = fs::temp_directory_path(error);
	for (fs::directory_iterator at(temp, error), end; !error && at != end;
	     at.increment(error)) {
		const std::string name = at->path().filename().string();
		// Only a root of ours: our name, and a lock inside. One without a
		// lock may be a server's that has not taken it yet.
		if (name.size() != sizeof prefix + 6 ||
		    name.rfind(std::string(prefix) + "-", 0) != 0)
			continue;
		const int fd = open_lock(at->path());
		if (fd < 0)
			continue;
		if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
			std::error_code ignored;
			fs::remove_all(at->path(), ignored);
		}
		(void)close(fd);
	}
}
