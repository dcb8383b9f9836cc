#include "text.h"

namespace {

// Windows-1252 bytes 80 to 9F; 0 marks the five that are not defined.
constexpr char16_t cp1252_high[32] = {
	0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
	0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
	0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

void append_utf8(std::string &out, unsigned code)
{
	if (code < 0x80) {
		out += static_cast<char>(code);
	} else if (code < 0x800) {
		out += static_cast<char>(0xC0 | (code >> 6));
		out += static_cast<char>(0x80 | (code & 0x3F));
	} else {
		out += static_cast<char>(0xE0 | (code >> 12));
		out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
		out += static_cast<char>(0x80 | (code & 0x3F));
	}
}

} // namespace

std::string utf8_from_cp1252(const std::string &text)
{
	std::string out;
	for (char c : text) {
		const unsigned byte = static_cast<unsigned char>(c);
		unsigned code = byte;
		if (byte >= 0x80 && byte < 0xA0)
			code = cp1252_high[byte - 0x80] != 0 ? cp1252_high[byte - 0x80] : 0xFFFD;
		append_utf8(out, code);
	}
	return out;
}
