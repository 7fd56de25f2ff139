// The record format, written and read here: the writer's side turns the
// entries and the length into the record's lines (the dump file,
// dumpdatei.h, puts them and the body into the file); the reader takes a
// record apart into the environment entries, the announced content length
// and the body bytes that arrived.
//
// A record is every environment entry followed by a line feed, then the
// line '*' and the content length in decimal (optionally negative), then the
// raw body.  A line feed inside an entry is written as a line feed and a
// tab, so a line that starts with a tab continues the entry before it: the
// entry gets a line feed and the line without its tab.  No value can then
// forge a line of its own: "PATH_INFO=/x\n*0\nB=1" is written as
// "PATH_INFO=/x\n\t*0\n\tB=1\n" and read back as one entry.  The entries end
// at the first line that is '*', an optional '-' and one or more digits (a
// continuation line starts with a tab, so it never is one); every byte after
// that line is the body.  A record of a refused method has no such line:
// all of it is entries.
//
// An entry that starts with a tab or a '*', or holds no '=', is written
// after a zero byte, the mark: "\tX=1", "*0" and "NOEQUALS" become
// "\0\tX=1\n", "\0*0\n" and "\0NOEQUALS\n".  No entry can hold a zero byte,
// so a line that starts with one is always a marked entry: it starts an
// entry of its own, and the rest of the line is its text.  No web server
// gives such an entry (a program that starts vokt.cgi with an environment
// of its own can); every other entry is written as it always was.
//
// Older writers put a line feed into the record as it is, and marked
// nothing.  A record without any line that starts with a tab or a zero
// byte is read by their rule: a line with no '=' in it (an empty line too)
// continues the entry before it, and the reader says that it used this
// rule, because in such a record a value can forge lines
// ("x\nREMOTE_ADDR=6.6.6.6" reads as two entries).  In a record with such a
// line, a line without '=' is an entry of its own.  A record that this
// writer wrote without a tab or a mark has only entries of one line with a
// '=' in them, which both rules read alike.
//
// Nothing in a record is trusted: an entry can hold zero bytes (after its
// mark), which no process environment can carry: it is cut at its first
// zero byte, takes no continuation after that, and the reader says so.
#ifndef VOKT_AUFZEICHNUNG_H
#define VOKT_AUFZEICHNUNG_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vokt::intern {

// ---- writing -------------------------------------------------------------

// Where the writer's bytes go: n bytes at daten, for kontext.
using Senke = void (*)(void *kontext, const char *daten, std::size_t n);

// One entry as the record holds it: the mark when it needs one, its text,
// every line feed in it followed by a tab, then a line feed.
void eintrag_schreiben(const char *eintrag, Senke senke, void *kontext);
// The length line: '*', the number in decimal, a line feed.  The body's
// raw bytes follow it, written as they are.
void laenge_schreiben(int inhaltlang, Senke senke, void *kontext);

// ---- reading -------------------------------------------------------------

// The most bytes that the entries part of a record file may take, its '*'
// line included: a larger one is no record (a server's environment is far
// smaller), and the reader never holds more.
constexpr std::size_t KOPF_HOECHSTENS = std::size_t{16} << 20;

class Aufzeichnung {
public:
    // Takes the record's bytes apart; false when they are no record (no
    // line with '=' before the '*' line, an empty file too).
    bool zerlegen(std::string daten);

    // How kopf_lesen() ended.
    enum Lesen {
        GELESEN,   // the entries are taken apart, the body is in the file
        FEHLER,    // the file could not be read: errno says why
        KEIN_DUMP, // no line with '=' before the '*' line
        ZU_GROSS,  // no '*' line within the first `hoechstens` bytes
    };
    // Reads the record in the regular file fd of `groesse` bytes from its
    // start (pread, in pieces): only its entries part, up to and including
    // the '*' line, and takes it apart as zerlegen() does.  The body stays in
    // the file, from inhalt_ab() to `groesse`.
    Lesen kopf_lesen(int fd, std::uint64_t groesse, std::size_t hoechstens = KOPF_HOECHSTENS);

    // Every entry as "name=value", in the record's order, duplicates too.
    const std::vector<std::string> &eintraege() const { return eintraege_; }
    // The entries with every earlier entry of a repeated name left out: the
    // last one wins, as when a shell builds its environment.
    std::vector<std::string> umgebung() const;
    // The value of the last entry of that name, if any.
    std::optional<std::string_view> wert(std::string_view name) const;

    // Whether the '*' line was found, and the length it announces
    // (saturated at the range of long long).
    bool mit_laenge() const { return mit_laenge_; }
    long long angesagt() const { return angesagt_; }
    // Where the body starts in the record, and how many bytes it has.
    std::uint64_t inhalt_ab() const { return inhalt_ab_; }
    std::uint64_t inhaltlaenge() const { return groesse_ - inhalt_ab_; }
    // The body bytes held in memory: all of the body after zerlegen(),
    // none after kopf_lesen().
    std::string_view inhalt() const { return std::string_view(daten_).substr(inhalt_ab_); }

    // Names that came more than once, each once, in the order of their
    // second appearance; how many entries were cut at a zero byte; and
    // whether a line without '=' was joined to the entry before it by the
    // older writers' rule.
    const std::vector<std::string> &doppelt() const { return doppelt_; }
    std::size_t mit_nullbyte() const { return mit_nullbyte_; }
    bool alte_regel() const { return alte_regel_; }

private:
    bool eintraege_lesen(std::size_t ende);
    void eintrag(std::string_view zeile, bool neue_form);
    void doppelte_suchen();

    std::string daten_;
    std::vector<std::string> eintraege_;
    std::vector<std::string> doppelt_;
    std::uint64_t inhalt_ab_ = 0;
    std::uint64_t groesse_ = 0;
    std::size_t mit_nullbyte_ = 0;
    long long angesagt_ = 0;
    bool mit_laenge_ = false;
    bool alte_regel_ = false;
    bool letzter_abgeschnitten_ = false;
};

// The name of an entry: the text before its first '=' (all of it if none).
std::string_view eintragsname(std::string_view eintrag);

// Whether a web server sets a variable of that name for a CGI program and
// it cannot change what the program runs, loads or trusts: the CGI
// meta-variables, the request's headers (HTTP_*) and what servers add.
bool ist_servervariable(std::string_view name);

// Whether a server may set a variable of that name, yet it chooses what a
// program runs or where it sends its own requests: PATH (Apache passes its
// own on), and HTTP_PROXY (a client's Proxy header, which many HTTP
// libraries take for their proxy; Apache and lighttpd leave it out, nginx
// passes it).
bool ist_umlenkvariable(std::string_view name);

// Whether a variable changes how a program is loaded or which files the C
// library reads: the ones glibc drops for setuid programs.
bool ist_ladervariable(std::string_view name);

// Whether a line is the content-length line ('*', an optional '-', one or
// more digits); *zahl gets the number, saturated.
bool ist_laengenzeile(std::string_view zeile, long long *zahl);

} // namespace vokt::intern

#endif
