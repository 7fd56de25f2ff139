// The subcommands of vokt, each a function of its own file: argv[0] is the
// subcommand's name, the rest its arguments.  Each returns the exit
// status: 0 done, 2 an error of the call or the record (one line on
// standard error), and what the subcommand itself documents besides.
#ifndef VOKT_BEFEHLE_H
#define VOKT_BEFEHLE_H

int befehl_show(int argc, char **argv);   // show.cpp
int befehl_list(int argc, char **argv);   // list.cpp
int befehl_diff(int argc, char **argv);   // diff.cpp
int befehl_har(int argc, char **argv);    // har.cpp
int befehl_replay(int argc, char **argv); // replay.cpp
int befehl_curl(int argc, char **argv);   // replay.cpp
int befehl_send(int argc, char **argv);   // replay.cpp (the words), send.cpp
int befehl_body(int argc, char **argv);   // replay.cpp
int befehl_pin(int argc, char **argv);    // pin.cpp
int befehl_follow(int argc, char **argv); // follow.cpp
int befehl_verify(int argc, char **argv); // verify.cpp

namespace vokt::intern {
class Aufzeichnung;
}
// vokt show's text (or page) of the record a at datei, open as fd, on
// standard output; false after a message.  show.cpp, for follow too.
bool zeigen(const char *datei, int fd, const vokt::intern::Aufzeichnung &a, bool html, bool geschwaerzt);

#endif
