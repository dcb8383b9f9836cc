#include "board_text.h"

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

// Reads one place at pos, skipping the blanks before it: a board
// position 0 to 15 as a number, or a row letter and a column number, A1 to
// D4, in either case. A number off the board is read, to be refused later.
bool read_place(const std::string &line, std::size_t &pos, int &place)
{
	while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t'))
		++pos;
	if (pos + 1 < line.size()) {
		const char row = static_cast<char>(line[pos] | 0x20); // lower case
		const char column = line[pos + 1];
		if (row >= 'a' && row <= 'd' && column >= '1' && column <= '4') {
			place = (row - 'a') * 4 + (column - '1');
			pos += 2;
			return true;
		}
	}
	return read_number(line, pos, place);
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

bool check_entry(const game &g, const std::string &line, int &first, int &second, failure &refusal)
{
	refusal = {};
	std::size_t pos = 0;
	int a = 0;
	int b = 0;
	if (!read_place(line, pos, a) || !read_place(line, pos, b) || !only_blanks_from(line, pos))
		refusal = {"type two places, for example: A1 B2 (or 0 5)"};
	else if (a >= card_count || b >= card_count)
		refusal = {"places run from A1 to D4 (or 0 to 15)"};
	else
		refusal = {move_refusal(g, a, b)};
	if (!refusal.reason.empty())
		return false;
	first = a;
	second = b;
	return true;
}

std::string draw_board(const game &g, int up_first, int up_second)
{
	std::string out;
	for (int p = 0; p < card_count; ++p) {
		const std::string value = std::to_string(value_at(g, p));
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

std::string place_name(int place)
{
	return {static_cast<char>('A' + place / 4), static_cast<char>('1' + place % 4)};
}

namespace {

// The colours of a drawn board: bold, and faint or red or green for the
// cards' states; empty when the terminal has no colour.
struct shade {
	const char *down, *up, *miss, *found, *end;
};

std::string card_text(const game &g, int p, const table_shown &shown, const shade &c)
{
	const std::string value = std::to_string(value_at(g, p));
	if (p == shown.first || p == shown.second)
		return std::string(shown.missed ? c.miss : c.up) + "(  " + value + " )" + c.end;
	if (g.found[static_cast<std::size_t>(p)])
		return std::string(c.found) + "   " + value + "  " + c.end;
	return std::string(c.down) + "[ " + place_name(p) + " ]" + c.end;
}

} // namespace

std::string draw_table(const game &g, const table_shown &shown)
{
	static const shade plain = {"", "", "", "", ""};
	static const shade coloured = {"\x1b[2m", "\x1b[1;33m", "\x1b[1;31m", "\x1b[32m",
				       "\x1b[0m"};
	const shade &c = shown.colour ? coloured : plain;
	std::string out;
	for (int p = 0; p < card_count; ++p) {
		out += (p % 4 == 0 ? "  " : " ") + card_text(g, p, shown, c);
		if (p % 4 == 3)
			out += "\n";
	}
	return out;
}
