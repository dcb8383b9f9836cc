// Captures what a piece of code writes to stdout, byte for byte.
#ifndef MEMORIA_TESTS_CAPTURE_H
#define MEMORIA_TESTS_CAPTURE_H

#include <functional>
#include <string>

std::string capture_stdout(const std::function<void()> &body);

#endif
