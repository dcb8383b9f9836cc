#include "exchange.h"

#include "files.h"
#include "subprocess.h"

namespace {

// memoria writes one short line and a digit: anything much longer is not a
// reply, and is not kept.
constexpr std::size_t output_cap = 4096;

// The first line of what the program wrote to stderr, if anything.
std::string first_line(const std::string &text)
{
	return text.substr(0, text.find_first_of("\r\n"));
}

// Checks the exit status and the console of a run, and reads the reply.
bool check_run(const process_run &run, const std::filesystem::path &file, int first, int second,
	       judgement &result, failure &why)
{
	if (run.status != 0) {
		why = {"memoria failed with exit status " + std::to_string(run.status)};
		if (!run.err.empty())
			why.reason += ": " + first_line(run.err);
		return false;
	}
	std::string reply;
	if (!read_file(file, reply, why))
		return false;
	const int verdict = verdict_of_reply(reply, first, second);
	const std::size_t line_end = run.out.find("\r\n");
	if (verdict < 0 || line_end == std::string::npos ||
	    run.out.substr(line_end + 2) != std::to_string(verdict)) {
		why = {"memoria gave a malformed reply to the move " + std::to_string(first) + " " +
		       std::to_string(second)};
		return false;
	}
	result.verdict = verdict;
	result.message = run.out.substr(0, line_end);
	return true;
}

} // namespace

bool ask_memoria(const judge_setup &judge, const std::filesystem::path &dir, int first, int second,
		 judgement &result, failure &why)
{
	const std::filesystem::path file = dir / connector_file;
	if (!write_file(file, request_line(first, second), why))
		return false;
	process_plan plan;
	plan.program = judge.program;
	plan.dir = dir;
	plan.deadline = judge.deadline;
	plan.output_cap = output_cap;
	process_run run;
	if (!run_process(plan, run, why))
		return false;
	if (run.timed_out) {
		result.timed_out = true;
		why = {"memoria took longer than " + std::to_string(judge.deadline.count()) +
		       " ms and was stopped"};
		return false;
	}
	if (run.overflowed) {
		why = {"memoria wrote more than a reply and was stopped"};
		return false;
	}
	return check_run(run, file, first, second, result, why);
}

std::filesystem::path installed_memoria(const std::filesystem::path &front_end_folder)
{
#ifdef _WIN32
	return front_end_folder / "memoria.exe";
#else
	return front_end_folder / "memoria";
#endif
}

std::string request_line(int first, int second)
{
	return std::to_string(first) + " " + std::to_string(second) + "\r\n";
}

int verdict_of_reply(const std::string &reply, int first, int second)
{
	std::string move = std::to_string(first);
	move += ' ';
	move += std::to_string(second);
	move += " \r\n";
	for (int verdict = 0; verdict <= 1; ++verdict) {
		std::string expected = move;
		expected += move;
		expected += std::to_string(verdict) + " \r\n";
		expected += std::to_string(verdict) + " \r\n";
		expected += '0';
		if (reply == expected)
			return verdict;
	}
	return -1;
}
