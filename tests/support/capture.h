// Runs a piece of library code in a child process with its standard output
// and error captured, so that page output and exit() can be examined.
#ifndef VOKT_TEST_CAPTURE_H
#define VOKT_TEST_CAPTURE_H

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

struct Captured {
    std::string out;
    std::string err;
    int status = -1;  // exit status, or -1 when killed by a signal
};

inline std::string slurp_fd(int fd)
{
    std::string text;
    char buf[65536];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0)
        text.append(buf, static_cast<size_t>(n));
    return text;
}

// stdin_text is what the child reads on descriptor 0 (from a file, whole).
inline Captured capture(const std::function<void()> &fn, const std::string &stdin_text = "")
{
    FILE *in = std::tmpfile();
    FILE *out = std::tmpfile();
    FILE *err = std::tmpfile();
    std::fwrite(stdin_text.data(), 1, stdin_text.size(), in);
    std::rewind(in);
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fileno(in), 0);
        dup2(fileno(out), 1);
        dup2(fileno(err), 2);
        fn();
        std::fflush(nullptr);
        _exit(0);
    }
    int ws = 0;
    waitpid(pid, &ws, 0);
    Captured c;
    c.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : -1;
    lseek(fileno(out), 0, SEEK_SET);
    lseek(fileno(err), 0, SEEK_SET);
    c.out = slurp_fd(fileno(out));
    c.err = slurp_fd(fileno(err));
    std::fclose(in);
    std::fclose(out);
    std::fclose(err);
    return c;
}

#endif
