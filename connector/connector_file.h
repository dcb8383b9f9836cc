// The connector file: the request the caller leaves in it, and the reply
// record that replaces it.
#ifndef MEMORIA_CONNECTOR_CONNECTOR_FILE_H
#define MEMORIA_CONNECTOR_CONNECTOR_FILE_H

#include <stddef.h>
#include <stdint.h>

// Opened by this bare name, so it lies in the working directory.
inline constexpr char connector_name[] = "conector.txt";

// The position given for an integer that is missing from the request or does
// not fit 32 bits. It locks the selection.
inline constexpr int32_t missing_position = -1;

// The longest decimal text of a 32-bit integer: a sign and ten digits.
inline constexpr size_t decimal_max = 11;

// The longest reply record: two lines of two positions, two of a verdict,
// each with its space and CR LF, and the final 0.
inline constexpr size_t reply_max = 2 * (decimal_max * 2 + 4) + 2 * (decimal_max + 3) + 1;

// The text of a request as it is read: from a file descriptor, a block at a
// time, or from memory alone (fd -1).
struct request_text {
	int fd;
	int error; // errno value of a failed read, else 0
	const char *next;
	const char *end;
	char block[512];
};

// Sets `text` up to read the descriptor fd.
void request_from_fd(request_text &text, int fd);

// Sets `text` up to read the `size` bytes at `data`, which must outlive it.
void request_from_memory(request_text &text, const char *data, size_t size);

// Reads the first two integers of the text, as scanf's "%i %i" would: white
// space skipped, an optional sign, then decimal, octal after a leading 0 or
// hexadecimal after 0x or 0X. Reading stops at the first integer that is
// missing; each position not read is missing_position, and so is an integer
// that does not fit. Nothing past the character that ends the second integer
// is taken from the text. Returns 0, or the errno value of a failed read.
int read_positions(request_text &text, int32_t &first, int32_t &second);

// Opens the connector file, reads the request from it and closes it. Returns
// 0, or the errno value of the open, read or close that failed.
int read_request(int32_t &first, int32_t &second);

// Opens the connector file for the reply, creating or emptying it; sets fd.
// Returns 0, or the errno value of the failed open.
int open_reply(int &fd);

// Writes the five-line reply record to fd and closes it, whatever happens.
// Returns 0, or the errno value of the write or close that failed.
int write_reply(int fd, int32_t first, int32_t second, int verdict);

// open(2), going on after an interrupted call: the descriptor, or -1 with
// errno set.
int open_file(const char *name, int flags, int mode);

// Writes value in decimal, as printf's "%d" would, to `out`, which has room
// for decimal_max characters; returns the end of what it wrote. No NUL.
char *format_decimal(char *out, int32_t value);

// Writes the five-line reply record to `out`, which has room for reply_max
// characters; returns its length.
size_t format_reply(char *out, int32_t first, int32_t second, int verdict);

#endif
