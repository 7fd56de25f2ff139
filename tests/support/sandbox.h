// Runs the built vokt.cgi the way a web server does (an exact environment
// block, arguments, the body on standard input) inside a private mount
// namespace: /tmp is a folder this test owns and /etc/passwd a file it
// writes, so every dump file and home directory lies in the test's folder
// and no real user's file is touched.  Needs root; tests skip without it.
#ifndef VOKT_TEST_SANDBOX_H
#define VOKT_TEST_SANDBOX_H

#include "process.h"

#include <string>
#include <sys/types.h>
#include <vector>

struct Request {
    std::vector<std::string> env;
    std::vector<std::string> args;  // after the program's name
    bool no_argv0 = false;          // an argument list without even argv[0]
    std::string body;               // standard input
    // 0: standard input is a file holding the body.  Otherwise a pipe fed in
    // pieces of this size with a pause after each, closed after
    // deliver bytes (all of the body when deliver is negative).
    size_t chunk = 0;
    long deliver = -1;
    int pause_ms = 2;               // the pause after each piece
    bool nonblocking = false;       // the pipe is handed over non-blocking
    bool zero_input = false;        // standard input is /dev/zero: no end
    uid_t uid = 65534;
    bool close_stdout = false;      // start with descriptor 1 closed
    bool stdout_pipe_closed = false;  // the reader of the page went away
    int closed_fds = 0;             // bit n: start with descriptor n closed
    bool no_dev = false;            // an empty /dev, as in a bare chroot
    int umask_bits = 022;
    long file_size_limit = -1;      // RLIMIT_FSIZE in bytes, -1: none
    long address_space_limit = -1;  // RLIMIT_AS in bytes, -1: none
    // With a pipe: after deliver bytes the pipe stays open (a stalled
    // client) and the program gets this signal a little later.
    int kill_signal = 0;
};

struct Result : Outcome {
    size_t fed = 0;  // with a pipe: the bytes of the body the program took
};

class Sandbox {
public:
    Sandbox();   // a fresh folder; users root, 1000 (home /tmp/home1000), nobody
    ~Sandbox();  // removes the folder
    Sandbox(const Sandbox &) = delete;
    Sandbox &operator=(const Sandbox &) = delete;

    static bool usable();  // false when namespaces cannot be made (not root)

    Result run(const Request &r);
    std::vector<Result> run_all(const std::vector<Request> &rs);

    // Paths as the program sees them, mapped into the test's folder.
    std::string host(const std::string &inner) const;
    std::string read(const std::string &inner) const;
    void set_home(uid_t uid, const std::string &home);  // rewrites passwd
    // The passwd line of an nsswitch.conf bound over the machine's one.
    void set_nsswitch(const std::string &sources);
    // A passwd file for libnss-extrausers, bound over /var/lib/extrausers.
    void set_extrausers(const std::string &passwd);
    // /tmp becomes a tmpfs of this size (and with at most this many inodes,
    // when not 0): a full disk.  The test process moves into a mount
    // namespace of its own for it.
    void small_tmp(size_t bytes, size_t inodes = 0);
    // /etc/passwd becomes exactly this text (until the next set_home).
    void set_passwd_text(const std::string &text);
    // nsswitch.conf becomes exactly this text.
    void set_nsswitch_text(const std::string &text);
    // A program (a script, say) bound over /usr/bin/getent.
    void set_getent(const std::string &script);

private:
    void write_passwd() const;
    std::string dir_;
    std::vector<std::pair<uid_t, std::string>> homes_;
    bool small_tmp_ = false;
};


#endif
