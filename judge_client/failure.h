// How the front ends report what could not be done: a function that can fail
// returns false and says why in a failure, in words fit for the one line a
// program shows its user.
#ifndef MEMORIA_JUDGE_CLIENT_FAILURE_H
#define MEMORIA_JUDGE_CLIENT_FAILURE_H

#include <string>

struct failure {
	std::string reason;
};

// "what: the system's text for error", as err(3) words it.
failure system_failure(const std::string &what, int error);

#endif
