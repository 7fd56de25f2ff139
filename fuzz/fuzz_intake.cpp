// The whole program on one request: the input is split into environment
// entries, command-line arguments and the body on standard input, and
// vokt.cgi's own main runs on them in this process.
//
// Input format (text, so that seeds are real requests one can read):
//   an optional first byte '!': the library also stores the other
//     environment variables in the map (GCV_ENVVARS);
//   environment entries, one a line, up to the first empty line;
//   arguments, one a line, up to the next empty line;
//   the rest: the body, exactly.
//
// Isolation: at start the process enters a private mount namespace in which
// its user's home directory is a fresh tmpfs, so the dump file that every
// request writes lands there and nowhere else (needs root).  exit() is
// wrapped (-Wl,--wrap=exit): a fatal request error jumps back here instead
// of ending the fuzzer.  Standard input and output are memory files per
// request.
//
// Checks: in the page every '<' starts one of the program's own tags; the
// process ends fatally exactly for a refused method; the dump file holds
// every entry, the length line and the body bytes that were read; the map
// holds what the std::string model of the decoding rules gives.
#include "cgivar.h"
#include "model.h"

#include <array>
#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <pwd.h>
#include <sched.h>
#include <string>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

int vokt_main(int argc, char **argv, char **env); // lib/vokt.cgi.cpp's main
extern Varmap tab;                                // and its map

namespace {

std::jmp_buf *ruecksprung = nullptr;
int exit_status = -1;
std::string home;

} // namespace

// The names the linker's --wrap option gives.
extern "C" [[noreturn]] void __real_exit(int status); // NOLINT(bugprone-reserved-identifier)
extern "C" [[noreturn]] void __wrap_exit(int status)  // NOLINT(bugprone-reserved-identifier)
{
    if (ruecksprung != nullptr) {
        exit_status = status;
        std::longjmp(*ruecksprung, 1);
    }
    __real_exit(status);
}

namespace {

[[noreturn]] void refuse(const char *what)
{
    std::fprintf(stderr, "fuzz_intake: %s: %s (run as root: it needs a private mount namespace)\n", what,
                 std::strerror(errno));
    __real_exit(77); // ctest counts the run as skipped, as the black-box tests skip
}

std::string read_all(int fd)
{
    std::string s;
    char buf[65536];
    ssize_t n;
    lseek(fd, 0, SEEK_SET);
    while ((n = read(fd, buf, sizeof buf)) > 0)
        s.append(buf, static_cast<std::size_t>(n));
    return s;
}

std::string read_file(const std::string &path)
{
    int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0)
        return "<missing>";
    std::string s = read_all(fd);
    close(fd);
    return s;
}

int memory_file(const char *name, const std::string &content)
{
    int fd = memfd_create(name, 0);
    if (fd < 0)
        model::fail("memfd_create");
    if (!content.empty() && write(fd, content.data(), content.size()) != static_cast<ssize_t>(content.size()))
        model::fail("memfd write");
    lseek(fd, 0, SEEK_SET);
    return fd;
}

// The tags the program writes itself.
bool own_tag_at(const std::string &page, std::size_t at)
{
    static const std::array<const char *, 16> tags = {"<HTML>",  "</HTML>", "<TITLE>", "</TITLE>", "</HEAD>", "<BODY>",
                                                      "</BODY>", "<H1>",    "</H1>",   "<H2>",     "</H2>",   "<p>",
                                                      "<PRE>",   "</PRE>",  "<B>",     "</B>"};
    for (const char *t : tags)
        if (page.compare(at, std::strlen(t), t) == 0)
            return true;
    return false;
}

// CONTENT_LENGTH as a number: leading white space, a sign, digits; values
// beyond the int range are clamped to it.
int length_of(const std::string &v)
{
    std::size_t i = v.find_first_not_of(" \t\n\v\f\r");
    if (i == std::string::npos)
        return 0;
    bool minus = v[i] == '-';
    if (v[i] == '-' || v[i] == '+')
        ++i;
    std::size_t end = v.find_first_not_of("0123456789", i);
    std::string digits = v.substr(i, end == std::string::npos ? std::string::npos : end - i);
    digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size()));
    if (digits.size() > 10 || (digits.size() == 10 && digits > "2147483647"))
        return minus ? INT32_MIN : INT32_MAX;
    long long n = digits.empty() ? 0 : std::stoll(digits);
    return static_cast<int>(minus ? -n : n);
}

bool starts(const std::string &s, const char *prefix)
{
    return s.compare(0, std::strlen(prefix), prefix) == 0;
}

bool starts_nocase(const std::string &s, const char *prefix)
{
    std::size_t n = std::strlen(prefix);
    if (s.size() < n)
        return false;
    for (std::size_t i = 0; i < n; ++i)
        if (std::toupper(static_cast<unsigned char>(s[i])) != prefix[i])
            return false;
    return true;
}

// A Transfer-Encoding value that names chunked as one of its codings.
bool names_chunked(const std::string &v)
{
    std::string lower;
    for (char c : v)
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (std::size_t at = lower.find("chunked"); at != std::string::npos; at = lower.find("chunked", at + 1)) {
        char before = at == 0 ? ',' : lower[at - 1];
        char after = at + 7 == lower.size() ? ',' : lower[at + 7];
        if (std::strchr(" ,\t", before) != nullptr && std::strchr(" ,;\t", after) != nullptr && after != '\0')
            return true;
    }
    return false;
}

// What the request must give, worked out from the input alone.
struct Expected {
    bool fatal = false;
    std::string dump;
    model::Decoded map;
};

Expected expect(const std::vector<std::string> &env, const std::string &body, bool envvars)
{
    Expected e;
    bool post = false;
    int length = 0;
    bool has_query = false;
    bool has_length = false;
    bool chunked = false;
    std::string query;
    for (const std::string &entry : env) {
        // The mark (a zero byte) before an entry that a reader would take
        // for a continuation, the length line or a part of the entry before.
        bool mark = starts(entry, "\t") || starts(entry, "*") || entry.find('=') == std::string::npos;
        e.dump += (mark ? std::string(1, '\0') : "") + entry + "\n";
        std::string after = entry.size() > 14 ? entry.substr(15) : "";
        if (starts(entry, "REQUEST_METHOD")) {
            // A refused method ends the request, but its record is whole:
            // the entries after it only announce the body.
            if (e.fatal) {
            } else if (starts_nocase(after, "POST")) {
                post = true;
            } else if (starts_nocase(after, "GET")) {
                post = false;
            } else {
                e.fatal = true;
            }
        } else if (starts(entry, "CONTENT_LENGTH")) {
            length = length_of(after);
            has_length = true;
        } else if (e.fatal) {
            if (starts(entry, "HTTP_TRANSFER_ENCODING="))
                chunked = names_chunked(entry.substr(23));
            continue;
        } else if (starts(entry, "QUERY_STRING")) {
            has_query = true;
            query = entry.size() > 12 ? entry.substr(13) : "";
        } else if (starts(entry, "HTTP_TRANSFER_ENCODING=")) {
            chunked = names_chunked(entry.substr(23));
        }
        if (!starts(entry, "REQUEST_METHOD") && !starts(entry, "CONTENT_LENGTH") && !starts(entry, "QUERY_STRING") &&
            envvars && entry.find('=') != std::string::npos) {
            std::size_t eq = entry.find('=');
            e.map.pairs[entry.substr(0, eq)] = entry.substr(eq + 1);
        }
    }
    e.dump += "*" + std::to_string(length) + "\n";
    // Without any CONTENT_LENGTH a chunked body is read to its end.
    bool to_end = !has_length && chunked;
    if (e.fatal) {
        if (length > 0 || to_end)
            e.dump += to_end ? body : body.substr(0, static_cast<std::size_t>(length));
        return e;
    }
    if (post && (length > 0 || to_end)) {
        std::string got = to_end ? body : body.substr(0, static_cast<std::size_t>(length));
        e.dump += got;
        model::decode(got, e.map);
    }
    if (has_query)
        model::decode(query, e.map);
    return e;
}

// Splits off lines up to the first empty one (or the end).
std::vector<std::string> lines(const std::string &in, std::size_t &at)
{
    std::vector<std::string> out;
    while (at < in.size()) {
        std::size_t nl = in.find('\n', at);
        std::string line = in.substr(at, nl == std::string::npos ? std::string::npos : nl - at);
        at = nl == std::string::npos ? in.size() : nl + 1;
        if (line.empty())
            break;
        out.push_back(model::ctext(line));
    }
    return out;
}

std::vector<char *> pointers(std::vector<std::string> &texts)
{
    std::vector<char *> p;
    p.reserve(texts.size() + 1);
    for (auto &t : texts)
        p.push_back(t.data());
    p.push_back(nullptr);
    return p;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    const passwd *pw = getpwuid(geteuid());
    if (pw == nullptr || pw->pw_dir == nullptr || pw->pw_dir[0] != '/')
        refuse("no home directory");
    home = pw->pw_dir;
    if (unshare(CLONE_NEWNS) != 0)
        refuse("unshare");
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        refuse("private mounts");
    if (mount("vokt-fuzz", home.c_str(), "tmpfs", 0, "size=256m,mode=0700") != 0)
        refuse("tmpfs over the home directory");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string input(reinterpret_cast<const char *>(data), size);
    std::size_t at = 0;
    bool envvars = !input.empty() && input[0] == '!';
    if (envvars)
        at = 1;
    std::vector<std::string> env = lines(input, at);
    std::vector<std::string> args = lines(input, at);
    std::string body = input.substr(at);
    args.insert(args.begin(), "vokt.cgi");
    Expected expected = expect(env, body, envvars);

    std::string dumppath = home + "/cgidump";
    unlink(dumppath.c_str());
    std::fflush(stdout);
    int saved_in = dup(0);
    int saved_out = dup(1);
    int in = memory_file("body", body);
    int out = memory_file("page", "");
    dup2(in, 0);
    dup2(out, 1);
    close(in);

    // Entries the library decodes in place: copies that this call owns.
    std::vector<std::string> env_block = env;
    std::vector<char *> envp = pointers(env_block);
    std::vector<char *> argv = pointers(args);
    std::jmp_buf jb;
    exit_status = -1;
    int status;
    if (setjmp(jb) == 0) {
        ruecksprung = &jb;
        if (envvars) {
            // main passes its own options; the library is called directly
            // here to store the environment variables too.
            getcgienv(&tab, envp.data(), GCV_ENVVARS | GCV_DUMP | GCV_DEBUGALL);
            probeausgabe(&tab);
            status = 0;
        } else {
            status = vokt_main(static_cast<int>(args.size()), argv.data(), envp.data());
        }
    } else {
        status = exit_status;
    }
    ruecksprung = nullptr;
    std::fflush(stdout);
    std::string page = read_all(out);
    dup2(saved_out, 1);
    dup2(saved_in, 0);
    close(out);
    close(saved_out);
    close(saved_in);

    if (std::getenv("VOKT_FUZZ_SHOW") != nullptr) // to look at one input's run
        std::fprintf(stderr, "status %d\n--- page\n%s--- dump\n%s---\n", status, page.c_str(),
                     read_file(dumppath).c_str());
    for (std::size_t lt = page.find('<'); lt != std::string::npos; lt = page.find('<', lt + 1))
        model::check(own_tag_at(page, lt), "request text became markup", page.substr(lt, 40));
    model::check(status == (expected.fatal ? 1 : 0), "exit status", std::to_string(status));
    model::check(read_file(dumppath) == expected.dump, "dump file differs", read_file(dumppath));
    if (!expected.fatal)
        model::check(model::as_model(model::checked_walk(tab)) == expected.map.pairs, "map differs from the model");

    // The program's map lives for one request: a fresh one for the next.
    tab.~Varmap();
    new (&tab) Varmap();
    return 0;
}
