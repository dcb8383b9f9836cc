// rand_s is declared only where this is defined before the first header.
#ifdef _WIN32
#define _CRT_RAND_S
#endif

#include "files.h"

#include <cerrno>
#include <fstream>
#include <iterator>
#include <system_error>

#include <stdlib.h>

#ifdef _WIN32
#include <windows.h>
#endif

namespace fs = std::filesystem;

bool read_file(const fs::path &name, std::string &bytes, failure &why)
{
	std::ifstream in(name, std::ios::binary);
	bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
	if (in.is_open() && !in.bad())
		return true;
	why = {"cannot read " + name.string()};
	return false;
}

bool write_file(const fs::path &name, const std::string &bytes, failure &why)
{
	std::ofstream out(name, std::ios::binary | std::ios::trunc);
	out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
	out.close();
	if (!out.fail())
		return true;
	why = {"cannot write " + name.string()};
	return false;
}

namespace {

// Where a scratch folder of that name goes.
fs::path under(const fs::path &temp, const std::string &name)
{
	const fs::path named(name);
	return named.is_absolute() ? named : temp / named;
}

} // namespace

#ifdef _WIN32
// Windows has no mkdtemp: a random name from rand_s, and a folder that
// CreateDirectory makes only where none was, tried again on a clash.
bool make_scratch_folder(const std::string &prefix, fs::path &folder, failure &why)
{
	static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
	std::error_code error;
	const fs::path temp = fs::temp_directory_path(error);
	for (int attempt = 0; !error && attempt < 100; ++attempt) {
		std::string name = prefix + "-";
		for (int i = 0; i < 12; ++i) {
			unsigned int r = 0;
			if (rand_s(&r) != 0) {
				why = {"the system's random source failed"};
				return false;
			}
			name += letters[r % (sizeof letters - 1)];
		}
		const fs::path candidate = under(temp, name);
		if (CreateDirectoryW(candidate.c_str(), nullptr) != 0) {
			folder = candidate;
			return true;
		}
		if (GetLastError() != ERROR_ALREADY_EXISTS)
			break;
	}
	why = {"cannot make a folder under " + temp.string()};
	return false;
}

fs::path own_folder(const char *argv0)
{
	wchar_t name[MAX_PATH];
	const DWORD length = GetModuleFileNameW(nullptr, name, MAX_PATH);
	if (length == 0 || length == MAX_PATH)
		return fs::absolute(argv0).parent_path();
	return fs::path(name).parent_path();
}
#else
bool make_scratch_folder(const std::string &prefix, fs::path &folder, failure &why)
{
	std::error_code error;
	const fs::path temp = fs::temp_directory_path(error);
	if (error) {
		why = {"no temporary folder: " + error.message()};
		return false;
	}
	std::string name = under(temp, prefix + "-XXXXXX").string();
	if (mkdtemp(name.data()) == nullptr) {
		why = system_failure("cannot make the folder " + name, errno);
		return false;
	}
	folder = name;
	return true;
}

fs::path own_folder(const char *argv0)
{
	std::error_code error;
	const fs::path self = fs::canonical("/proc/self/exe", error);
	return (error ? fs::absolute(argv0) : self).parent_path();
}
#endif
