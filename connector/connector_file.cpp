#include "connector_file.h"

#include <cerrno>
#include <cinttypes>
#include <cstdint>
#include <cstdio>

namespace {

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

int skip_space(std::FILE *in)
{
	int c = std::getc(in);
	while (is_space(c))
		c = std::getc(in);
	return c;
}

// Reads the base prefix that starts at c, a decimal digit: a leading 0 makes
// octal, 0x or 0X hexadecimal. Returns the first character of the digits.
int read_base(std::FILE *in, int c, int &base)
{
	base = 10;
	if (c != '0')
		return c;
	base = 8;
	c = std::getc(in);
	if (c == 'x' || c == 'X') {
		base = 16;
		c = std::getc(in);
	}
	return c;
}

// Reads digits of `base` from c on, up to the first character that cannot
// continue them. The magnitude stops growing just past `limit`, so it never
// overflows however many digits follow. Returns the character that ended
// the digits.
int read_digits(std::FILE *in, int c, int base, std::int64_t limit, std::int64_t &magnitude)
{
	magnitude = 0;
	for (int d = digit_value(c); d < base; d = digit_value(c)) {
		magnitude = magnitude * base + d;
		if (magnitude > limit)
			magnitude = limit + 1;
		c = std::getc(in);
	}
	return c;
}

// Reads one integer. Returns 1 when one was read, 0 when the text holds none
// at this point (or ends), -1 when the character that ended it could not be
// given back to the stream.
int read_int(std::FILE *in, std::int32_t &value)
{
	int c = skip_space(in);
	const bool negative = c == '-';
	if (c == '-' || c == '+')
		c = std::getc(in);
	if (digit_value(c) > 9)
		return 0;
	int base = 10;
	c = read_base(in, c, base);
	const std::int64_t limit = negative ? -std::int64_t{INT32_MIN} : std::int64_t{INT32_MAX};
	std::int64_t magnitude = 0;
	c = read_digits(in, c, base, limit, magnitude);
	if (c != EOF && std::ungetc(c, in) == EOF)
		return -1;
	if (magnitude > limit)
		value = missing_position;
	else
		value = static_cast<std::int32_t>(negative ? -magnitude : magnitude);
	return 1;
}

} // namespace

int read_positions(std::FILE *in, std::int32_t &first, std::int32_t &second)
{
	first = missing_position;
	second = missing_position;
	errno = 0;
	int got = read_int(in, first);
	if (got == 1)
		got = read_int(in, second);
	if (got < 0)
		return last_error();
	return std::ferror(in) ? last_error() : 0;
}

int read_request(std::int32_t &first, std::int32_t &second)
{
	// Binary mode: on Windows a text stream would end the file at a Ctrl-Z
	// byte; line breaks are white space either way.
	std::FILE *in = std::fopen(connector_name, "rb");
	if (in == nullptr)
		return last_error();
	const int error = read_positions(in, first, second);
	if (std::fclose(in) != 0 && error == 0)
		return last_error();
	return error;
}

int open_reply(std::FILE *&reply)
{
	// Binary mode, so that no platform turns the CR LF line breaks into
	// anything else.
	reply = std::fopen(connector_name, "wb");
	if (reply == nullptr)
		return last_error();
	return 0;
}

int write_reply(std::FILE *reply, std::int32_t first, std::int32_t second, int verdict)
{
	errno = 0;
	int error = 0;
	if (std::fprintf(reply,
			 "%" PRId32 " %" PRId32 " \r\n%" PRId32 " %" PRId32 " \r\n%d \r\n%d \r\n0",
			 first, second, first, second, verdict, verdict) < 0)
		error = last_error();
	if (std::fclose(reply) != 0 && error == 0)
		error = last_error();
	return error;
}
