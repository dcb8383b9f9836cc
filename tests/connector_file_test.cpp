// The connector file: reading the two positions of a request, over request
// texts, and the text of the reply record.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "connector_file.h"
#include "portable_io.h"

namespace {

struct request_case {
	std::string text;
	std::int32_t first;
	std::int32_t second;
	int next; // the first character left unread once both were read, or EOF
};

class RequestTable : public testing::TestWithParam<request_case> {};

TEST_P(RequestTable, ReadsTwoPositions)
{
	const request_case &c = GetParam();
	request_text text{};
	request_from_memory(text, c.text.data(), c.text.size());
	std::int32_t first = 99;
	std::int32_t second = 99;
	EXPECT_EQ(read_positions(text, first, second), 0);
	EXPECT_EQ(first, c.first) << '"' << c.text << '"';
	EXPECT_EQ(second, c.second) << '"' << c.text << '"';
	if (c.second != -1) {
		const int next =
			text.next < text.end ? static_cast<unsigned char>(*text.next) : EOF;
		EXPECT_EQ(next, c.next) << '"' << c.text << '"';
	}
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
	char record[reply_max];
	const std::size_t length = format_reply(record, -1, 4, 0);
	request_text text{};
	request_from_memory(text, record, length);
	std::int32_t first = 0;
	std::int32_t second = 0;
	EXPECT_EQ(read_positions(text, first, second), 0);
	EXPECT_EQ(first, -1);
	EXPECT_EQ(second, 4);
}

// A request longer than one block of the file is read across blocks, and
// nothing is taken past the second integer.
TEST(Request, ReadsAcrossBlocksOfTheFile)
{
	const std::string request = std::string(1000, ' ') +
				    "0x0000000000000000000000000000000000000000000000000e" +
				    std::string(600, '\n') + "15 rest";
	const std::string name = testing::TempDir() + "memoria-long-request";
	std::FILE *file = std::fopen(name.c_str(), "wb");
	ASSERT_NE(file, nullptr);
	ASSERT_EQ(std::fwrite(request.data(), 1, request.size(), file), request.size());
	ASSERT_EQ(std::fclose(file), 0);
	const int fd = open_for_reading(name.c_str());
	ASSERT_GE(fd, 0);
	request_text text{};
	request_from_fd(text, fd);
	std::int32_t first = 0;
	std::int32_t second = 0;
	EXPECT_EQ(read_positions(text, first, second), 0);
	EXPECT_EQ(first, 14);
	EXPECT_EQ(second, 15);
	EXPECT_EQ(std::string(text.next, text.end), " rest");
	EXPECT_EQ(close_fd(fd), 0);
	EXPECT_EQ(std::remove(name.c_str()), 0);
}

} // namespace

namespace {

// Decimal text as printf's "%d" gives it, across the whole 32-bit range.
TEST(Reply, DecimalTextIsPrintfs)
{
	const std::int32_t samples[] = {
		0,   1,         -1,         9,       10,        -10,       99,
		100, 123456789, -987654321, 1 << 30, INT32_MAX, INT32_MIN, INT32_MIN + 1};
	for (std::int32_t value : samples) {
		char want[16];
		ASSERT_GT(std::snprintf(want, sizeof want, "%d", static_cast<int>(value)), 0);
		char got[decimal_max];
		const char *const end = format_decimal(got, value);
		EXPECT_EQ(std::string(static_cast<const char *>(got), end), want);
	}
}

TEST(Reply, RecordOfTheLongestMoveFits)
{
	char record[reply_max];
	const std::size_t length = format_reply(record, INT32_MIN, INT32_MIN, 0);
	EXPECT_EQ(std::string(record, length),
		  "-2147483648 -2147483648 \r\n-2147483648 -2147483648 \r\n0 \r\n0 \r\n0");
	EXPECT_LE(length, reply_max);
}

} // namespace
