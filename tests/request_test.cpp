// Reading the two positions of a request, over request texts.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "connector_file.h"

namespace {

struct request_case {
	std::string text;
	std::int32_t first;
	std::int32_t second;
	int next; // the first character left unread once both were read, or EOF
};

// A stream that holds `text`, read from its start.
std::FILE *stream_of(const std::string &text)
{
	std::FILE *in = std::tmpfile();
	if (in == nullptr || std::fwrite(text.data(), 1, text.size(), in) != text.size() ||
	    std::fseek(in, 0, SEEK_SET) != 0)
		return nullptr;
	return in;
}

// The request is read from a real stream, so that what is left unread after
// the second integer can be checked too.
class RequestTable : public testing::TestWithParam<request_case> {};

TEST_P(RequestTable, ReadsTwoPositions)
{
	const request_case &c = GetParam();
	std::FILE *in = stream_of(c.text);
	ASSERT_NE(in, nullptr);
	std::int32_t first = 99;
	std::int32_t second = 99;
	EXPECT_EQ(read_positions(in, first, second), 0);
	EXPECT_EQ(first, c.first) << '"' << c.text << '"';
	EXPECT_EQ(second, c.second) << '"' << c.text << '"';
	if (c.second != -1) {
		EXPECT_EQ(std::getc(in), c.next) << '"' << c.text << '"';
	}
	EXPECT_EQ(std::fclose(in), 0);
}

const request_case notation_cases[] = {
	request_case{"3 5", 3, 5, EOF},
	request_case{"3\n5\n", 3, 5, '\n'},
	request_case{"3\r\n5\r\n", 3, 5, '\r'},
	request_case{" \t\v\f\r\n7 \t\v\f\r\n8", 7, 8, EOF},
	request_case{"010 0x3", 8, 3, EOF},
	request_case{"012 10", 10, 10, EOF},
	request_case{"0X1f 0x1F", 31, 31, EOF},
	request_case{"0xAbC 0xdEf", 2748, 3567, EOF},
	request_case{"3-5", 3, -5, EOF},
	request_case{"08", 0, 8, EOF},
	request_case{"079", 7, 9, EOF},
	request_case{"+7 -0", 7, 0, EOF},
	request_case{"-012 -0x10", -10, -16, EOF},
	request_case{"-1 4", -1, 4, EOF},
	request_case{"1+2", 1, 2, EOF},
	request_case{"0x 5", 0, 5, EOF}, // "0x" with no hex digit is 0
	request_case{"0x-1 2", 0, -1, ' '},
	request_case{"0000000000000000000000000000012 3", 10, 3, EOF},
	request_case{"2 3 4", 2, 3, ' '},
	request_case{"2 3\r\nmore text\r\n", 2, 3, '\r'},
	request_case{"2 3x", 2, 3, 'x'},
	request_case{"2 0x3g", 2, 3, 'g'},
	request_case{"2 08", 2, 0, '8'},
};
INSTANTIATE_TEST_SUITE_P(Notations, RequestTable, testing::ValuesIn(notation_cases));

// A position that cannot be read, and every one after it, is -1.
const request_case missing_cases[] = {
	request_case{"", -1, -1, EOF},
	request_case{"\r\n\t ", -1, -1, EOF},
	request_case{"junk 3", -1, -1, EOF},
	request_case{"x 5", -1, -1, EOF},
	request_case{"7", 7, -1, EOF},
	request_case{"7 ", 7, -1, EOF},
	request_case{"7 junk", 7, -1, EOF},
	request_case{"1.5", 1, -1, EOF},
	request_case{"0xg", 0, -1, EOF},
	request_case{"-", -1, -1, EOF},
	request_case{"+", -1, -1, EOF},
	request_case{"- 5", -1, -1, EOF},
	request_case{"--5 1", -1, -1, EOF},
	request_case{"3 +", 3, -1, EOF},
	request_case{std::string("3\0 4", 4), 3, -1, EOF},
};
INSTANTIATE_TEST_SUITE_P(Missing, RequestTable, testing::ValuesIn(missing_cases));

// An integer that does not fit 32 bits is -1, never a wrapped value, and
// reading goes on after its digits.
const request_case range_cases[] = {
	request_case{"2147483647 -2147483648", INT32_MAX, INT32_MIN, EOF},
	request_case{"0x7fffffff -0x80000000", INT32_MAX, INT32_MIN, EOF},
	request_case{"017777777777 -020000000000", INT32_MAX, INT32_MIN, EOF},
	request_case{"99999999999 3", -1, 3, EOF},
	request_case{"2147483648 3", -1, 3, EOF},
	request_case{"-2147483649 2", -1, 2, EOF},
	request_case{"0x100000000 1", -1, 1, EOF},
	request_case{"0x80000000 1", -1, 1, EOF},
	request_case{"0xFFFFFFFF 1", -1, 1, EOF},
	request_case{"040000000000 1", -1, 1, EOF},
	request_case{"4 184467440737095516161844674407370955161618446744073709551616", 4, -1, EOF},
	request_case{"-99999999999999999999999999999999999-1", -1, -1, EOF},
};
INSTANTIATE_TEST_SUITE_P(Range, RequestTable, testing::ValuesIn(range_cases));

TEST(Request, FirstLineOfAReplyReadsAsTheSameSelection)
{
	std::FILE *in = stream_of("-1 4 \r\n-1 4 \r\n0 \r\n0 \r\n0");
	ASSERT_NE(in, nullptr);
	std::int32_t first = 0;
	std::int32_t second = 0;
	EXPECT_EQ(read_positions(in, first, second), 0);
	EXPECT_EQ(first, -1);
	EXPECT_EQ(second, 4);
	EXPECT_EQ(std::fclose(in), 0);
}

} // namespace
