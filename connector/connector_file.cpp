#include "connector_file.h"

#include <errno.h>
#include <stddef.h>
#include <stdint.h>
#include <fcntl.h>

#ifdef _WIN32
#include <io.h>
#include <sys/stat.h>
#else
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
// Binary mode: a text-mode descriptor would end the file at a Ctrl-Z byte and
// turn the reply's CR LF into CR CR LF.
constexpr int read_flags = O_RDONLY | O_BINARY;
constexpr int write_flags = O_WRONLY | O_CREAT | O_TRUNC | O_BINARY;
constexpr int create_mode = _S_IREAD | _S_IWRITE;
#else
constexpr int read_flags = O_RDONLY;
constexpr int write_flags = O_WRONLY | O_CREAT | O_TRUNC;
constexpr int create_mode = 0666;
#endif

constexpr int end_of_text = -1;
constexpr int not_a_digit = 36;

// White space as the C locale's isspace has it: space, \t \n \v \f \r.
bool is_space(int c)
{
	return c == ' ' || (c >= '\t' && c <= '\r');
}

int digit_value(int c)
{
	if (c >= '0' && c <= '9')
		return c - '0';
	if (c >= 'a' && c <= 'f')
		return c - 'a' + 10;
	if (c >= 'A' && c <= 'F')
		return c - 'A' + 10;
	return not_a_digit;
}

// The errno value of the call that just failed, or EIO where it set none.
int last_error()
{
	return errno != 0 ? errno : EIO;
}

// close, never repeated: the descriptor is released even when the call is
// interrupted, and a second close could hit one opened since. What was read
// or written before it is whole, so an interruption is no failure. Returns 0,
// or the errno value of a failed close.
int close_file(int fd)
{
	if (close(fd) == 0 || errno == EINTR)
		return 0;
	return last_error();
}

// Reads the next block into the text. Returns false at the end of the file or
// on a failed read, which it records.
bool refill(request_text &text)
{
	if (text.fd < 0 || text.error != 0)
		return false;
	long got = 0;
	do {
		got = read(text.fd, text.block, sizeof text.block);
	} while (got < 0 && errno == EINTR);
	if (got < 0)
		text.error = last_error();
	if (got <= 0)
		return false;
	text.next = text.block;
	text.end = text.block + got;
	return true;
}

// The next byte of the text, or end_of_text.
int next_char(request_text &text)
{
	if (text.next == text.end && !refill(text))
		return end_of_text;
	return static_cast<unsigned char>(*text.next++);
}

// Gives back the byte that next_char just returned, which is still in place.
void unread_char(request_text &text)
{
	--text.next;
}

int skip_space(request_text &text)
{
	int c = next_char(text);
	while (is_space(c))
		c = next_char(text);
	return c;
}

// Reads the base prefix that starts at c, a decimal digit: a leading 0 makes
// octal, 0x or 0X hexadecimal. Returns the first character of the digits.
int read_base(request_text &text, int c, int &base)
{
	base = 10;
	if (c != '0')
		return c;
	base = 8;
	c = next_char(text);
	if (c == 'x' || c == 'X') {
		base = 16;
		c = next_char(text);
	}
	return c;
}

// Reads digits of `base` from c on, up to the first character that cannot
// continue them. The magnitude stops growing just past `limit`, so it never
// overflows however many digits follow. Returns the character that ended
// the digits.
int read_digits(request_text &text, int c, int base, int64_t limit, int64_t &magnitude)
{
	magnitude = 0;
	for (int d = digit_value(c); d < base; d = digit_value(c)) {
		magnitude = magnitude * base + d;
		if (magnitude > limit)
			magnitude = limit + 1;
		c = next_char(text);
	}
	return c;
}

// Reads one integer. Returns true when one was read, false when the text
// holds none at this point (or ends).
bool read_int(request_text &text, int32_t &value)
{
	int c = skip_space(text);
	const bool negative = c == '-';
	if (c == '-' || c == '+')
		c = next_char(text);
	if (digit_value(c) > 9)
		return false;
	int base = 10;
	c = read_base(text, c, base);
	const int64_t limit = negative ? -int64_t{INT32_MIN} : int64_t{INT32_MAX};
	int64_t magnitude = 0;
	c = read_digits(text, c, base, limit, magnitude);
	if (c != end_of_text)
		unread_char(text);
	if (magnitude > limit)
		value = missing_position;
	else
		value = static_cast<int32_t>(negative ? -magnitude : magnitude);
	return true;
}

// Writes all `length` bytes, going on after a short write. Returns 0, or the
// errno value of the write that failed.
int write_all(int fd, const char *bytes, size_t length)
{
	while (length > 0) {
		const long done = write(fd, bytes, static_cast<unsigned>(length));
		if (done < 0 && errno == EINTR)
			continue;
		if (done <= 0)
			return done < 0 ? last_error() : EIO;
		bytes += done;
		length -= static_cast<size_t>(done);
	}
	return 0;
}

// Copies the text without its terminating NUL; returns the end of the copy.
char *copy_text(char *out, const char *text)
{
	while (*text != '\0')
		*out++ = *text++;
	return out;
}

} // namespace

int open_file(const char *name, int flags, int mode)
{
	int fd = -1;
	do {
		fd = open(name, flags, mode);
	} while (fd < 0 && errno == EINTR);
	return fd;
}

char *format_decimal(char *out, int32_t value)
{
	int64_t magnitude = value;
	if (magnitude < 0) {
		*out++ = '-';
		magnitude = -magnitude;
	}
	char digits[decimal_max];
	size_t count = 0;
	do {
		digits[count++] = static_cast<char>('0' + magnitude % 10);
		magnitude /= 10;
	} while (magnitude != 0);
	while (count > 0)
		*out++ = digits[--count];
	return out;
}

size_t format_reply(char *out, int32_t first, int32_t second, int verdict)
{
	char *end = out;
	for (int line = 0; line < 2; ++line) {
		end = format_decimal(end, first);
		*end++ = ' ';
		end = format_decimal(end, second);
		end = copy_text(end, " \r\n");
	}
	for (int line = 0; line < 2; ++line) {
		end = format_decimal(end, verdict);
		end = copy_text(end, " \r\n");
	}
	*end++ = '0';
	return static_cast<size_t>(end - out);
}

void request_from_fd(request_text &text, int fd)
{
	text.fd = fd;
	text.error = 0;
	text.next = text.block;
	text.end = text.block;
}

void request_from_memory(request_text &text, const char *data, size_t size)
{
	text.fd = -1;
	text.error = 0;
	text.next = data;
	text.end = data + size;
}

int read_positions(request_text &text, int32_t &first, int32_t &second)
{
	first = missing_position;
	second = missing_position;
	if (read_int(text, first))
		(void)read_int(text, second);
	return text.error;
}

int read_request(int32_t &first, int32_t &second)
{
	const int fd = open_file(connector_name, read_flags, 0);
	if (fd < 0)
		return last_error();
	request_text text{};
	request_from_fd(text, fd);
	const int error = read_positions(text, first, second);
	const int close_error = close_file(fd);
	return error != 0 ? error : close_error;
}

int open_reply(int &fd)
{
	fd = open_file(connector_name, write_flags, create_mode);
	return fd < 0 ? last_error() : 0;
}

int write_reply(int fd, int32_t first, int32_t second, int verdict)
{
	char record[reply_max];
	const size_t length = format_reply(record, first, second, verdict);
	const int error = write_all(fd, record, length);
	const int close_error = close_file(fd);
	return error != 0 ? error : close_error;
}
