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
	if (!read_number(line, pos, a) || !read_number(line, pos, b) ||
	    !only_blanks_from(line, pos))
		refusal = {"type two card positions, for example: 0 5"};
	else if (a >= card_count || b >= card_count)
		refusal = {"positions run from 0 to 15"};
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
