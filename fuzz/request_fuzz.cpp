// The request reader on arbitrary bytes: it must read what scanf's "%i %i"
// reads (an integer that does not fit being -1), consume nothing past the
// second integer, and read its own reply line back as the same selection.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "connector_file.h"
#include "property.h"
#include "scanf_oracle.h"

namespace {

struct read_result {
	std::int32_t first;
	std::int32_t second;
	long consumed;
};

read_result read_bytes(const void *data, std::size_t size)
{
	const char *bytes = static_cast<const char *>(data);
	request_text text{};
	request_from_memory(text, bytes, size);
	read_result r{0, 0, 0};
	require(read_positions(text, r.first, r.second) == 0, "no read error");
	r.consumed = text.next - bytes;
	return r;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
	const oracle_request want = oracle_read(data, size);
	const read_result got = read_bytes(data, size);
	require(got.first == want.first, "first position as scanf reads it");
	require(got.second == want.second, "second position as scanf reads it");
	if (want.both) {
		require(got.consumed == static_cast<long>(want.end),
			"nothing read past the second");
		const read_result cut = read_bytes(data, want.end);
		require(cut.first == got.first && cut.second == got.second,
			"what follows is ignored");
	}
	// The program's own reply record, read again as a request.
	char record[reply_max];
	const std::size_t length = format_reply(record, got.first, got.second, 0);
	const read_result again = read_bytes(record, length);
	require(again.first == got.first && again.second == got.second, "reply line reads back");
	return 0;
}
