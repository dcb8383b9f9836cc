// Asking memoria to judge one move, as any front end would: the request goes
// into the connector file of the current directory, memoria is started there
// without a shell, and the reply record is read back and checked.
#ifndef MEMORIA_CALLER_JUDGE_H
#define MEMORIA_CALLER_JUDGE_H

#include <string>

// Starts `program` in the current directory with no arguments and waits for
// it. Sets its stdout and exit status. Returns false, with a reason, when it
// could not be started.
bool run_program(const std::string &program, std::string &console, int &status,
		 std::string &failure);

// Judges the move: returns the verdict, 0 or 1, and sets the judge's message
// line (still Windows-1252, without its line break). Returns -1 with a
// reason when memoria cannot be started, fails, or gives a malformed reply.
int judge_move(const std::string &program, int first, int second, std::string &message,
	       std::string &failure);

#endif
