// File descriptor calls that the tests use, under one name on every platform.
#ifndef MEMORIA_TESTS_PORTABLE_IO_H
#define MEMORIA_TESTS_PORTABLE_IO_H

#include <fcntl.h>

#ifdef _WIN32
#include <io.h>

inline int open_for_reading(const char *name)
{
	return _open(name, _O_RDONLY | _O_BINARY);
}

inline int close_fd(int fd)
{
	return _close(fd);
}
#else
#include <unistd.h>

inline int open_for_reading(const char *name)
{
	return open(name, O_RDONLY);
}

inline int close_fd(int fd)
{
	return close(fd);
}
#endif

#endif
