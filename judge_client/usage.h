// The command-line manners that every front end keeps: --help prints the
// usage on stdout, --version the program's name and version, and a wrong
// command line the usage on stderr.
#ifndef MEMORIA_JUDGE_CLIENT_USAGE_H
#define MEMORIA_JUDGE_CLIENT_USAGE_H

// Answers --help or --version when the command line asks for either and
// returns true: the program then exits with status 0.
bool answered_help_or_version(const char *name, const char *usage, int argc, char **argv);

// Shows the usage on stderr; returns the exit status of bad usage, 2.
int bad_usage(const char *usage);

#endif
