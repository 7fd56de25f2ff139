// The home directory of a user, looked up the way `getent passwd` does on
// this machine, but without ever loading a name-service module into this
// process: a statically linked program would crash on one.
#ifndef VOKT_NUTZERDB_H
#define VOKT_NUTZERDB_H

#include <sys/types.h>

// A copy of uid's home directory that the caller owns.  Null with
// *fehlernummer 0: the account database has no such user; null with an
// error number: the database could not be read.
//
// When /etc/nsswitch.conf names `files` first for passwd (or says nothing),
// /etc/passwd is read here; only when the user is not in it and further
// sources follow is `getent passwd <uid>` asked, in a child process with an
// empty environment.  Any other configuration asks getent at once.
char *heimverzeichnis(uid_t uid, int *fehlernummer);

#endif
