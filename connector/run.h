// One run of the program: judge the move in the connector file and leave the
// reply record in its place.
#ifndef MEMORIA_CONNECTOR_RUN_H
#define MEMORIA_CONNECTOR_RUN_H

// Exit statuses.
enum run_status {
	// The move was judged: message and verdict on stdout, reply record written.
	status_judged = 0,
	// The request could not be read. Nothing was judged and the connector file
	// is as the caller left it (a missing one is not created).
	status_request_unread = 1,
	// The reply record could not be written: the connector file may be empty
	// or hold part of the record.
	status_reply_lost = 2,
	// The move was judged and the reply record written in full, but stdout
	// could not take the message line and verdict.
	status_console_lost = 3,
};

// Runs one move from request to reply; returns the exit status. Reports a
// failure as one line on stderr.
int run_connector();

#endif
