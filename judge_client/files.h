// The files and folders that the front ends and their tests use: whole files
// read and written as bytes, scratch folders, and the program's own folder.
#ifndef MEMORIA_JUDGE_CLIENT_FILES_H
#define MEMORIA_JUDGE_CLIENT_FILES_H

#include <filesystem>
#include <string>

#include "failure.h"

bool read_file(const std::filesystem::path &name, std::string &bytes, failure &why);

// Creates or empties the file and writes bytes into it.
bool write_file(const std::filesystem::path &name, const std::string &bytes, failure &why);

// A new, empty folder named PREFIX-XXXXXX with a random, unguessable ending,
// made by this call alone (mkdtemp(3) or its Windows equivalent): under the
// system's temporary folder, or where PREFIX says when it is an absolute
// path.
bool make_scratch_folder(const std::string &prefix, std::filesystem::path &folder, failure &why);

// The folder that holds the running program, to find the files installed
// beside it.
std::filesystem::path own_folder(const char *argv0);

#endif
