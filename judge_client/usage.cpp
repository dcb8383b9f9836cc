#include "usage.h"

#include <cstring>
#include <iostream>

int command_line_status(const char *name, const char *usage, int argc, char **argv, bool parsed)
{
	for (int i = 1; i < argc; ++i) {
		if (std::strcmp(argv[i], "--help") == 0) {
			std::cout << usage;
			return 0;
		}
		if (std::strcmp(argv[i], "--version") == 0) {
			std::cout << name << " " << MEMORIA_VERSION << "\n";
			return 0;
		}
	}
	if (parsed)
		return -1;
	std::cerr << usage;
	return 2;
}
