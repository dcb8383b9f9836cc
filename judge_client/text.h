// The judge writes its messages in Windows-1252; the front ends show UTF-8.
#ifndef MEMORIA_JUDGE_CLIENT_TEXT_H
#define MEMORIA_JUDGE_CLIENT_TEXT_H

#include <string>

std::string utf8_from_cp1252(const std::string &text);

#endif
