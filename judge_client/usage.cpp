#include "usage.h"

#include <cstring>
#include <iostream>

bool answered_help_or_version(const char *name, const char *usage, int argc, char **argv)
{
	for (int i = 1; i < argc; ++i) {
		if (std::strcmp(argv[i], "--help") == 0) {
			std::cout << usage;
			return true;
		}
		if (std::strcmp(argv[i], "--version") == 0) {
			std::cout << name << " " << MEMORIA_VERSION << "\n";
			return true;
		}
	}
	return false;
}

int bad_usage(const char *usage)
{
	std::cerr << usage;
	return 2;
}
