#include "game.h"

int card_value(int position)
{
	return position / 2 + 1;
}

namespace {

// Reads one whole decimal number from text at pos; skips the blanks before it.
bool read_number(const std::string &line, std::size_t &pos, int &value)
{
	while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t'))
		++pos;
	const std::size_t start = pos;
	while (pos < line.size() && line[pos] >= '0' && line[pos] <= '9')
		++pos;
	if (pos == start || pos - start > 6)
		return false;
	value = 0;
	for (std::size_t i = start; i < pos; ++i)
		value = value * 10 + (line[i] - '0');
	return true;
}

bool only_blanks_from(const std::string &line, std::size_t pos)
{
	for (; pos < line.size(); ++pos) {
		if (line[pos] != ' ' && line[pos] != '\t' && line[pos] != '\r')
			return false;
	}
	return true;
}

} // namespace

std::string check_entry(const game &g, const std::string &line, int &first, int &second)
{
	std::size_t pos = 0;
	int a = 0;
	int b = 0;
	if (!read_number(line, pos, a) || !read_number(line, pos, b) ||
	    !only_blanks_from(line, pos))
		return "type two card positions, for example: 0 5";
	if (a >= card_count || b >= card_count)
		return "positions run from 0 to 15";
	if (a == b)
		return "pick two different cards";
	if (g.found[static_cast<std::size_t>(a)] || g.found[static_cast<std::size_t>(b)])
		return "that card has already been found";
	first = a;
	second = b;
	return "";
}

std::string draw_board(const game &g, int up_first, int up_second)
{
	std::string out;
	for (int p = 0; p < card_count; ++p) {
		const std::string value = std::to_string(card_value(p));
		const std::string number = (p < 10 ? " " : "") + std::to_string(p);
		if (p == up_first || p == up_second)
			out += " ( " + value + ")";
		else if (g.found[static_cast<std::size_t>(p)])
			out += "   " + value + " ";
		else
			out += " [" + number + "]";
		if (p % 4 == 3)
			out += "\n";
	}
	return out;
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
