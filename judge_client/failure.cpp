#include "failure.h"

#include <cstring>

failure system_failure(const std::string &what, int error)
{
	return {what + ": " + std::strerror(error)};
}
