#include "run.h"

#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#endif

#include "board.h"
#include "connector_file.h"
#include "pair_check.h"

namespace {

constexpr char program_name[] = "memoria";

// One line on stderr in the style of err(3). Should stderr fail too, the exit
// status still tells.
int fail(int status, const char *what, int error)
{
	(void)fprintf(stderr, "%s: %s: %s\r\n", program_name, what, strerror(error));
	return status;
}

// A caller starts memoria once per move: a buffer of our own spares the C
// library a stat, a terminal check and an allocation at the first write.
// Everything the console gets fits, and goes out in one write. Should it be
// refused, the library's own buffer serves.
char console_buffer[128];

void use_console_buffer()
{
	(void)setvbuf(stdout, console_buffer, _IOFBF, sizeof console_buffer);
}

#ifdef _WIN32
// Binary mode, so that the C runtime writes CR LF as it stands rather than
// CR CR LF. It fails only for a stream with no file behind it, whose writes
// then fail and are reported when stdout is flushed.
int prepare_console(int &console_error)
{
	console_error = 0;
	(void)_setmode(_fileno(stdout), _O_BINARY);
	(void)_setmode(_fileno(stderr), _O_BINARY);
	use_console_buffer();
	return 0;
}
#else
// A console pipe whose reader has gone and a file-size limit are reported by
// the signals SIGPIPE and SIGXFSZ, which would end the program with the reply
// unwritten. Ignored, they turn into failed writes (EPIPE, EFBIG) that are
// reported like any other. signal fails only for a bad signal number.
void ignore_write_signals()
{
	(void)signal(SIGPIPE, SIG_IGN);
	(void)signal(SIGXFSZ, SIG_IGN);
}

// A standard descriptor that the caller left closed is the next one that an
// open hands out, and console output would then go into the connector file.
// Parks /dev/null on each closed one; a closed stdout is a lost console.
// Returns 0, or the errno value of a failed open.
int prepare_console(int &console_error)
{
	console_error = 0;
	ignore_write_signals();
	for (int fd = 0; fd <= 2; ++fd) {
		if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
			continue;
		if (open_file("/dev/null", O_RDWR, 0) != fd)
			return errno != 0 ? errno : EBADF;
		if (fd == STDOUT_FILENO)
			console_error = EBADF;
	}
	use_console_buffer();
	return 0;
}
#endif

// Pushes the console output out. Returns the first console error seen.
int flush_console(int console_error)
{
	errno = 0;
	if (fflush(stdout) != 0 || ferror(stdout))
		return errno != 0 ? errno : EIO;
	return console_error;
}

// Judges the move, shows the message and verdict and writes the reply record.
int judge_move(int reply, int32_t first, int32_t second, int console_error)
{
	const board_cells board = initial_board;
	const int verdict = check_selection(board, first, second);
	char digits[decimal_max];
	const char *end = format_decimal(digits, verdict);
	(void)fwrite(digits, 1, static_cast<size_t>(end - digits), stdout);
	console_error = flush_console(console_error);
	const int error = write_reply(reply, first, second, verdict);
	if (error != 0)
		return fail(status_reply_lost, connector_name, error);
	if (console_error != 0)
		return fail(status_console_lost, "stdout", console_error);
	return status_judged;
}

} // namespace

int run_connector()
{
	int console_error = 0;
	int error = prepare_console(console_error);
	if (error != 0)
		return fail(status_request_unread, "/dev/null", error);
	int32_t first = missing_position;
	int32_t second = missing_position;
	error = read_request(first, second);
	if (error != 0)
		return fail(status_request_unread, connector_name, error);
	int reply = -1;
	error = open_reply(reply);
	if (error != 0)
		return fail(status_reply_lost, connector_name, error);
	return judge_move(reply, first, second, console_error);
}
