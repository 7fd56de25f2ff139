// The home directory of a user, looked up the way `getent passwd` does on
// this machine, but without ever loading a name-service module into this
// process: a statically linked program would crash on one.
#ifndef VOKT_NUTZERDB_H
#define VOKT_NUTZERDB_H

#include <sys/types.h>

namespace vokt::intern {

// A copy of uid's home directory that the caller owns.  Null with
// *fehlernummer 0: the account database has no such user; null with an
// error number: the database could not be read.
//
// nsswitch.conf is read as glibc reads it.  When it names `files` first
// for passwd (or says nothing), /etc/passwd is read here; only when the
// user is not in it and further sources follow is `getent passwd <uid>`
// asked, in a child process with an empty environment.  Any other
// configuration asks getent at once.
//
// getent gets about two seconds and 64 KiB of output (past them the
// lookup fails with ETIMEDOUT or EFBIG).  It runs as the child of a warden
// process of this function's, in the warden's process group, which is
// killed when the lookup ends or when this process gets SIGTERM, SIGHUP
// or SIGINT meanwhile: for that time those signals have a handler of this
// function's, which then hands the signal on to the disposition the
// program had.  The warden and getent also die with this process (SIGKILL
// included).  Where the kernel lets this process make one (with
// CAP_SYS_ADMIN, or inside a new user namespace), the warden is the first
// process of a pid namespace of its own: when it is killed, the kernel
// kills everything getent started, even what left its process group and
// session.  Elsewhere such a process may outlive the lookup; it holds no
// descriptor of the request (getent gets /dev/null, the output pipe,
// which is closed here when the lookup ends, and no other descriptor).
// This process never becomes a subreaper.  Not for concurrent use from
// several threads.
char *heimverzeichnis(uid_t uid, int *fehlernummer);

} // namespace vokt::intern

#endif
