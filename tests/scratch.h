// What every test that runs a program needs: a folder of its own, removed
// afterwards, and whole files read and written as bytes.
#ifndef MEMORIA_TESTS_SCRATCH_H
#define MEMORIA_TESTS_SCRATCH_H

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "files.h"

// A fresh folder for the test, removed when it goes.
class scratch_folder {
public:
	scratch_folder()
	{
		failure why;
		EXPECT_TRUE(make_scratch_folder("memoria-test", path_, why)) << why.reason;
	}
	~scratch_folder()
	{
		std::error_code ignored;
		if (!path_.empty())
			std::filesystem::remove_all(path_, ignored);
	}
	scratch_folder(const scratch_folder &) = delete;
	scratch_folder &operator=(const scratch_folder &) = delete;
	const std::filesystem::path &path() const { return path_; }

private:
	std::filesystem::path path_;
};

// The file's bytes; empty when there is no such file.
inline std::string bytes_of(const std::filesystem::path &file)
{
	std::string bytes;
	failure ignored;
	(void)read_file(file, bytes, ignored);
	return bytes;
}

inline void put_bytes(const std::filesystem::path &file, const std::string &bytes)
{
	failure why;
	ASSERT_TRUE(write_file(file, bytes, why)) << why.reason;
}

#endif
