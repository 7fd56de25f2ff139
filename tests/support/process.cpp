#include "process.h"

#include <cstdio>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

pid_t spawn(const std::function<void()> &body, int in, int out, int err)
{
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid != 0)
        return pid;
    const int fds[] = {in, out, err};
    for (int i = 0; i < 3; ++i)
        if (fds[i] >= 0 && dup2(fds[i], i) != i)
            _exit(123);
    body();
    std::fflush(nullptr);
    _exit(0);
}

int finish(pid_t pid)
{
    int ws = 0;
    if (pid < 0 || waitpid(pid, &ws, 0) != pid)
        return -1;
    return WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
}

Outcome run_captured(const std::function<void()> &body, const std::string &stdin_text)
{
    FILE *in = std::tmpfile();
    FILE *out = std::tmpfile();
    FILE *err = std::tmpfile();
    std::fwrite(stdin_text.data(), 1, stdin_text.size(), in);
    std::fflush(in);
    lseek(fileno(in), 0, SEEK_SET);
    Outcome o;
    o.status = finish(spawn(body, fileno(in), fileno(out), fileno(err)));
    lseek(fileno(out), 0, SEEK_SET);
    lseek(fileno(err), 0, SEEK_SET);
    o.out = read_fd(fileno(out));
    o.err = read_fd(fileno(err));
    std::fclose(in);
    std::fclose(out);
    std::fclose(err);
    return o;
}

std::string read_fd(int fd)
{
    std::string text;
    char buf[65536];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0)
        text.append(buf, static_cast<size_t>(n));
    return text;
}

std::string read_file(const std::string &path)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return "";
    std::string text = read_fd(fd);
    close(fd);
    return text;
}

bool write_file(const std::string &path, const std::string &text)
{
    FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr)
        return false;
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && ok;
}
