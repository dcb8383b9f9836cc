// What jogar's terminal can do: drawing in place, colour, and an
// interruption (Ctrl-C) that leaves nothing of the game behind.
#ifndef MEMORIA_CALLER_TERMINAL_H
#define MEMORIA_CALLER_TERMINAL_H

#include <filesystem>

// True when both the player's input and jogar's output are a terminal that
// takes ANSI sequences (on Windows, once its console's virtual-terminal
// mode is on): the board is then drawn in place.
bool live_terminal();

// Colour, unless NO_COLOR is set to anything or the terminal is "dumb".
bool colour_wanted();

// Sets Ctrl-C (and a polite kill, or the terminal closing) to remove the
// game's scratch folder, with its connector file, before jogar exits with
// status 130. False when that cannot be set: a name too long to keep, or no
// handler taken.
bool remove_when_interrupted(const std::filesystem::path &folder);

#endif
