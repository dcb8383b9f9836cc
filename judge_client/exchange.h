// Asking memoria to judge one move, as any front end would: the request goes
// into the connector file of the game's folder, memoria is started there
// without a shell, and its exit status, its console and the reply record are
// read back and checked.
#ifndef MEMORIA_JUDGE_CLIENT_EXCHANGE_H
#define MEMORIA_JUDGE_CLIENT_EXCHANGE_H

#include <chrono>
#include <filesystem>
#include <string>

#include "failure.h"

// The file of the exchange, in the game's folder.
inline constexpr char connector_file[] = "conector.txt";

struct judge_setup {
	std::filesystem::path program;
	// How long a move may take before memoria is killed; zero for no limit.
	std::chrono::milliseconds deadline{0};
};

struct judgement {
	int verdict = -1;    // 0 or 1
	std::string message; // the judge's line, Windows-1252, without its line break
	bool timed_out = false;
};

// The memoria installed with a front end: beside it, in a build and once
// installed alike.
std::filesystem::path installed_memoria(const std::filesystem::path &front_end_folder);

// Judges the move of the board positions first and second in dir. Returns
// false with a reason when memoria cannot be started, fails (its stderr line
// is in the reason), runs past the deadline, or gives a malformed reply.
bool ask_memoria(const judge_setup &judge, const std::filesystem::path &dir, int first, int second,
		 judgement &result, failure &why);

// The request text for a move, as the caller leaves it in the connector file.
std::string request_line(int first, int second);

// Checks a reply record against the move it answers. Returns the verdict, 0
// or 1, or -1 when the record is malformed or echoes another move.
int verdict_of_reply(const std::string &reply, int first, int second);

#endif
