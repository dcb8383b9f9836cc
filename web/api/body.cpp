#include "body.h"

#include <algorithm>
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

namespace {

// Whether the text has a key twice in one object, at any depth.
bool has_repeated_key(const std::string &body)
{
	std::vector<std::set<std::string>> open;
	bool repeated = false;
	const json::parser_callback_t check = [&](int /*depth*/, json::parse_event_t event,
						  json &parsed) {
		if (event == json::parse_event_t::object_start)
			open.emplace_back();
		else if (event == json::parse_event_t::object_end && !open.empty())
			open.pop_back();
		else if (event == json::parse_event_t::key && !open.empty())
			repeated =
				repeated || !open.back().insert(parsed.get<std::string>()).second;
		return true;
	};
	return !json::parse(body, check, false).is_discarded() && repeated;
}

bool read_player(const json &entry, player &p, failure &wrong)
{
	if (!entry.is_object() || entry.size() != 1)
		return said(wrong, "a player is an object with a name or a computer level");
	const auto name = entry.find("name");
	const auto level = entry.find("computer");
	if (name != entry.end()) {
		if (!name->is_string())
			return said(wrong, "a name is a string");
		p.name = name->get<std::string>();
		const bool control = std::any_of(p.name.begin(), p.name.end(), [](char c) {
			return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
		});
		if (p.name.empty() || p.name.size() > 40 || control)
			return said(wrong, "a name is 1 to 40 bytes of text");
		return true;
	}
	if (level == entry.end() || !level->is_string() ||
	    (p.computer = level_named(level->get<std::string>())) == computer_level::none)
		return said(wrong, "a computer level is easy, medium or hard");
	return true;
}

} // namespace

bool read_players(const std::string &body, std::vector<player> &players, bool &devices,
		  failure &wrong)
{
	players.assign(1, player{});
	devices = false;
	if (body.find_first_not_of(" \t\r\n") == std::string::npos)
		return true;
	const json parsed = json::parse(body, nullptr, false);
	if (parsed.is_discarded() || !parsed.is_object())
		return said(wrong, "the body is not a JSON object");
	if (has_repeated_key(body))
		return said(wrong, "a field is given twice");
	if (parsed.empty())
		return true;
	const auto list = parsed.find("players");
	const auto on_devices = parsed.find("devices");
	devices = on_devices != parsed.end();
	if (devices && *on_devices != 2)
		return said(wrong, "devices, when given, is 2");
	if (parsed.size() != (devices ? 2U : 1U) || list == parsed.end() || !list->is_array() ||
	    list->empty() || list->size() > max_players)
		return said(wrong, "players is a list of one to four players");
	players.clear();
	for (const json &entry : *list) {
		player p;
		if (!read_player(entry, p, wrong))
			return false;
		players.push_back(p);
	}
	const auto people = std::count_if(players.begin(), players.end(), [](const player &p) {
		return p.computer == computer_level::none;
	});
	if (people == 0)
		return said(wrong, "at least one player is a person");
	if (devices && (people != 2 || players.size() != 2))
		return said(wrong, "a game on two devices is for two people");
	return true;
}
