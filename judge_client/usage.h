// The command-line manners that every front end keeps: --help prints the
// usage on stdout, --version the program's name and version, and a wrong
// command line the usage on stderr.
#ifndef MEMORIA_JUDGE_CLIENT_USAGE_H
#define MEMORIA_JUDGE_CLIENT_USAGE_H

// What a program does after reading its command line (parsed tells whether
// its options were good): -1 to go on, or else the status to exit with, once
// --help or --version has been answered (0) or the usage shown for a wrong
// command line (2).
int command_line_status(const char *name, const char *usage, int argc, char **argv, bool parsed);

#endif
