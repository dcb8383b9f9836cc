// Times whole runs of programs that judge one move: each program is started
// over and over in a scratch folder that holds a request, one run after the
// other, in batches that take turns between the programs so that drifts in
// the machine's speed touch them all alike.
//
// usage: timer BATCHES RUNS_PER_BATCH FOLDER PROGRAM...
// Prints one line a program: median ns per run over the batches, the fastest
// and slowest batch, and the peak resident memory of a run in KiB.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

char *const environment[] = {const_cast<char *>("PATH=/usr/bin:/bin"), nullptr};

long long now_ns()
{
	timespec t{};
	clock_gettime(CLOCK_MONOTONIC, &t);
	return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

// Runs the program once with stdout and stderr on /dev/null; returns its
// peak resident memory in KiB, or -1 if it did not exit with status 0.
long run_once(const char *program, int null_fd)
{
	const pid_t pid = fork();
	if (pid == 0) {
		if (dup2(null_fd, STDOUT_FILENO) < 0 || dup2(null_fd, STDERR_FILENO) < 0)
			_exit(125);
		char *const argv[] = {const_cast<char *>(program), nullptr};
		execve(program, argv, environment);
		_exit(126);
	}
	int status = 0;
	rusage usage{};
	if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) ||
	    WEXITSTATUS(status) != 0)
		return -1;
	return usage.ru_maxrss;
}

struct timing {
	std::vector<double> per_run_ns;
	long peak_kib = 0;
};

} // namespace

int main(int argc, char **argv)
{
	if (argc < 5) {
		std::fprintf(stderr, "usage: timer BATCHES RUNS_PER_BATCH FOLDER PROGRAM...\n");
		return 2;
	}
	const int batches = std::atoi(argv[1]);
	const int runs = std::atoi(argv[2]);
	if (batches < 1 || runs < 1 || chdir(argv[3]) != 0) {
		std::perror("timer");
		return 2;
	}
	const int null_fd = open("/dev/null", O_WRONLY);
	std::vector<timing> timings(static_cast<std::size_t>(argc - 4));
	for (int batch = 0; batch < batches; ++batch) {
		for (std::size_t p = 0; p < timings.size(); ++p) {
			const char *program = argv[4 + p];
			const long long start = now_ns();
			for (int r = 0; r < runs; ++r) {
				const long peak = run_once(program, null_fd);
				if (peak < 0) {
					std::fprintf(stderr, "timer: %s failed\n", program);
					return 1;
				}
				timings[p].peak_kib = std::max(timings[p].peak_kib, peak);
			}
			timings[p].per_run_ns.push_back(static_cast<double>(now_ns() - start) /
							runs);
		}
	}
	for (std::size_t p = 0; p < timings.size(); ++p) {
		std::vector<double> &t = timings[p].per_run_ns;
		std::sort(t.begin(), t.end());
		std::printf("%s %.0f %.0f %.0f %ld\n", argv[4 + p], t[t.size() / 2], t.front(),
			    t.back(), timings[p].peak_kib);
	}
	return 0;
}
