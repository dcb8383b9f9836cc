#include "body.h"

#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

namespace {

constexpr int places_on_board = 16;

using json = nlohmann::json;

// The fields of a flat JSON object as the parser meets them: an integer, or
// a reason it is not one. Anything nested, or a key met twice, spoils it.
struct flat_object : nlohmann::json_sax<json> {
	std::map<std::string, std::int64_t> integers;
	std::set<std::string> not_integers;
	std::string key_now;
	std::string wrong;
	int depth = 0;

	bool value(bool integer, std::int64_t number)
	{
		if (depth != 1)
			return fail("the body is not a flat JSON object");
		if (integer)
			integers[key_now] = number;
		else
			not_integers.insert(key_now);
		return true;
	}
	bool fail(const std::string &reason)
	{
		wrong = reason;
		return false;
	}
	bool null() override { return value(false, 0); }
	bool boolean(bool /*value*/) override { return value(false, 0); }
	bool number_integer(number_integer_t n) override { return value(true, n); }
	bool number_unsigned(number_unsigned_t n) override
	{
		return value(n <= INT64_MAX, static_cast<std::int64_t>(n <= INT64_MAX ? n : 0));
	}
	bool number_float(number_float_t /*value*/, const string_t & /*text*/) override
	{
		return value(false, 0);
	}
	bool string(string_t & /*value*/) override { return value(false, 0); }
	bool binary(binary_t & /*value*/) override { return value(false, 0); }
	bool start_object(std::size_t /*size*/) override
	{
		return ++depth == 1 || fail("the body is not a flat JSON object");
	}
	bool key(string_t &name) override
	{
		if (integers.count(name) != 0 || not_integers.count(name) != 0)
			return fail("the field " + name + " is given twice");
		key_now = name;
		return true;
	}
	bool end_object() override
	{
		--depth;
		return true;
	}
	bool start_array(std::size_t /*size*/) override
	{
		return fail(depth == 0 ? "the body is not a JSON object"
				       : "the body is not a flat JSON object");
	}
	bool end_array() override { return true; }
	bool parse_error(std::size_t /*at*/, const std::string & /*token*/,
			 const nlohmann::detail::exception & /*error*/) override
	{
		return fail("the body is not a JSON object");
	}
};

// Whether the text holds a -0 outside its strings: JSON reads it as 0, so
// "-0" and "0" would be one place spelled two ways.
bool has_negative_zero(const std::string &text)
{
	bool quoted = false;
	for (std::size_t i = 0; i + 1 < text.size(); ++i) {
		if (quoted) {
			if (text[i] == '\\')
				++i;
			else if (text[i] == '"')
				quoted = false;
		} else if (text[i] == '"') {
			quoted = true;
		} else if (text[i] == '-' && text[i + 1] == '0') {
			return true;
		}
	}
	return false;
}

bool said(failure &wrong, const std::string &reason)
{
	wrong = {reason};
	return false;
}

} // namespace

bool read_places(const std::string &body, const std::vector<const char *> &names,
		 std::vector<int> &places, std::int64_t &version, failure &wrong)
{
	flat_object object;
	const bool blank = body.find_first_not_of(" \t\r\n") == std::string::npos;
	if (!blank && !json::sax_parse(body, &object))
		return said(wrong,
			    object.wrong.empty() ? "the body is not a JSON object" : object.wrong);
	if (has_negative_zero(body))
		return said(wrong, "a place is written -0");
	const auto named_version = object.integers.find("version");
	const bool versioned = named_version != object.integers.end();
	if (object.not_integers.count("version") != 0 || (versioned && named_version->second < 0))
		return said(wrong, "version is not a whole number from 0");
	version = versioned ? named_version->second : -1;
	if (object.integers.size() + object.not_integers.size() !=
	    names.size() + (versioned ? 1 : 0))
		return said(wrong, "the body must hold exactly the fields it names");
	for (const char *name : names) {
		if (object.not_integers.count(name) != 0)
			return said(wrong, std::string(name) + " is not an integer");
		const auto field = object.integers.find(name);
		if (field == object.integers.end())
			return said(wrong, std::string("missing field: ") + name);
		if (field->second < 0 || field->second >= places_on_board)
			return said(wrong, std::string(name) + " is not a place from 0 to 15");
		places.push_back(static_cast<int>(field->second));
	}
	return true;
}
