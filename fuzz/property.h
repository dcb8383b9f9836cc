// Stops the fuzzer with a message when a property of the code does not hold.
#ifndef MEMORIA_FUZZ_PROPERTY_H
#define MEMORIA_FUZZ_PROPERTY_H

#include <cstdio>
#include <cstdlib>

inline void require(bool condition, const char *what)
{
	if (!condition) {
		(void)std::fprintf(stderr, "property broken: %s\n", what);
		std::abort();
	}
}

#endif
