// What C's scanf makes of the integers of a request, worked out with the C
// library's own sscanf and strtoll: the reference the fuzz targets hold the
// request reader to.
#ifndef MEMORIA_FUZZ_SCANF_ORACLE_H
#define MEMORIA_FUZZ_SCANF_ORACLE_H

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

struct oracle_request {
	std::int32_t first = -1;
	std::int32_t second = -1;
	std::size_t end = 0; // where the second integer ends, once both were read
	bool both = false;
};

// Reads the integer "%i" finds at text[from]; sets `end` past it. An integer
// that does not fit 32 bits is -1. Returns false when there is none.
inline bool oracle_int(const std::string &text, std::size_t from, std::int32_t &value,
		       std::size_t &end)
{
	int length = 0;
	if (std::sscanf(text.c_str() + from, "%*i%n", &length) == EOF || length == 0)
		return false;
	end = from + static_cast<std::size_t>(length);
	const std::string digits = text.substr(from, static_cast<std::size_t>(length));
	errno = 0;
	const long long wide = std::strtoll(digits.c_str(), nullptr, 0);
	const bool fits = errno == 0 && wide >= INT32_MIN && wide <= INT32_MAX;
	value = fits ? static_cast<std::int32_t>(wide) : -1;
	return true;
}

// The text up to its first NUL byte, as sscanf sees it.
inline oracle_request oracle_read(const std::uint8_t *data, std::size_t size)
{
	std::string text(reinterpret_cast<const char *>(data), size);
	text.resize(text.find('\0') == std::string::npos ? size : text.find('\0'));
	oracle_request r;
	std::size_t end = 0;
	if (!oracle_int(text, 0, r.first, end))
		return r;
	r.both = oracle_int(text, end, r.second, r.end);
	return r;
}

#endif
