// The connector file: the request the caller leaves in it, and the reply
// record that replaces it.
#ifndef MEMORIA_CONNECTOR_CONNECTOR_FILE_H
#define MEMORIA_CONNECTOR_CONNECTOR_FILE_H

#include <cstdint>
#include <cstdio>

// Opened by this bare name, so it lies in the working directory.
inline constexpr char connector_name[] = "conector.txt";

// The position given for an integer that is missing from the request or does
// not fit 32 bits. It locks the selection.
inline constexpr std::int32_t missing_position = -1;

// Reads the first two integers of the text in `in`, as scanf's "%i %i" would:
// white space skipped, an optional sign, then decimal, octal after a leading 0
// or hexadecimal after 0x or 0X. Reading stops at the first integer that is
// missing; each position not read is missing_position, and so is an integer
// that does not fit. Nothing past the character that ends the second integer
// is read. Returns 0, or the errno value of a failed read.
int read_positions(std::FILE *in, std::int32_t &first, std::int32_t &second);

// Opens the connector file, reads the request from it and closes it. Returns
// 0, or the errno value of the open, read or close that failed.
int read_request(std::int32_t &first, std::int32_t &second);

// Opens the connector file for the reply, creating or emptying it. Returns 0,
// or the errno value of the failed open.
int open_reply(std::FILE *&reply);

// Writes the five-line reply record to `reply` and closes it, whatever
// happens. Returns 0, or the errno value of the write or close that failed.
int write_reply(std::FILE *reply, std::int32_t first, std::int32_t second, int verdict);

#endif
