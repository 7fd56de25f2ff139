// The one way the tests run a child: a callable (library code, or the exec
// of a program) in a forked process with descriptors 0, 1 and 2 as the
// test says, then how it ended and what it wrote.  The sandbox builds its
// namespace setup on it, the tests of vokt-replay their exec.
#ifndef VOKT_TEST_PROCESS_H
#define VOKT_TEST_PROCESS_H

#include <functional>
#include <string>
#include <sys/types.h>

struct Outcome {
    std::string out;
    std::string err;
    int status = -1;  // exit status, or 128 + the signal that ended it
};

// Forks; the child takes in, out and err as its descriptors 0, 1 and 2
// (-1 leaves one as it is), calls body and ends with status 0 when body
// returns.  Nothing else runs in the child: with other threads about,
// body must not allocate.  The child's id, or -1.
pid_t spawn(const std::function<void()> &body, int in = -1, int out = -1, int err = -1);

// Waits for the child: its exit status, or 128 + signal.
int finish(pid_t pid);

// body in a child that reads stdin_text (a file) on standard input, with
// standard output and error collected.
Outcome run_captured(const std::function<void()> &body, const std::string &stdin_text = "");

std::string read_fd(int fd);  // to its end
std::string read_file(const std::string &path);  // "" when there is none
bool write_file(const std::string &path, const std::string &text);

#endif
