// Messages on a POSIX system (messages.cpp), for the POSIX editions' start-up.
#pragma once

// A standard output that is closed or whose reader has gone must not end the show nor take over
// a file the show opens later: messages are best effort.
void suojaa_viestit();
