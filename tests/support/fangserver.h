// A server of one connection at a time on a free loopback port, for the
// tests that send requests with curl or libcurl: erfasse() takes one
// request (its head, and a body of its Content-Length), answers it with
// the bytes it is given and returns the raw request.
#ifndef VOKT_TEST_FANGSERVER_H
#define VOKT_TEST_FANGSERVER_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <unistd.h>

class Fangserver {
public:
    Fangserver()
    {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t l = sizeof a;
        if (bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 && listen(fd_, 4) == 0 &&
            getsockname(fd_, reinterpret_cast<sockaddr *>(&a), &l) == 0)
            port_ = ntohs(a.sin_port);
    }
    ~Fangserver() { close(fd_); }
    Fangserver(const Fangserver &) = delete;
    Fangserver &operator=(const Fangserver &) = delete;
    int port() const { return port_; }

    // The answer is sent whole unless the client goes away first (no
    // SIGPIPE then); the connection is closed after it.
    std::string
    erfasse(std::string_view antwort = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok") const
    {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, 20000) != 1)
            return "(nothing arrived)";
        int c = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        std::string roh = anfrage(c);
        while (!antwort.empty()) {
            ssize_t n = send(c, antwort.data(), antwort.size(), MSG_NOSIGNAL);
            if (n <= 0)
                break;
            antwort.remove_prefix(static_cast<std::size_t>(n));
        }
        close(c);
        return roh;
    }

private:
    static std::string anfrage(int c)
    {
        std::string roh;
        std::size_t ende = std::string::npos, soll = 0;
        char buf[65536];
        for (;;) {
            if (ende != std::string::npos && roh.size() >= ende + 4 + soll)
                break;
            pollfd q{c, POLLIN, 0};
            if (poll(&q, 1, 20000) != 1)
                break;
            ssize_t n = read(c, buf, sizeof buf);
            if (n <= 0)
                break;
            roh.append(buf, static_cast<std::size_t>(n));
            if (ende == std::string::npos && (ende = roh.find("\r\n\r\n")) != std::string::npos) {
                std::size_t cl = roh.substr(0, ende).find("\r\nContent-Length: ");
                soll = cl == std::string::npos ? 0 : std::stoul(roh.substr(cl + 18));
            }
        }
        return roh;
    }

    int fd_ = -1;
    int port_ = 0;
};

#endif
