/* The bench's harness.
 *
 *   runner time REPS ENVFILE STDINFILE 'label=/path/prog arg...' ...
 *       Runs every command REPS times, interleaved (A B C B C A ...), each
 *       with exactly the environment of ENVFILE (one entry a line),
 *       STDINFILE on standard input and standard output on /dev/null, and
 *       prints one line per command:
 *         label median_us q1_us q3_us median_maxrss_kib max_maxrss_kib minflt
 *       Wall time is fork to reaped child; peak memory is the child's
 *       ru_maxrss from wait4, minflt its minor page faults (median); then
 *       the mean wall time, then the child's mean CPU time (user and
 *       system, from wait4), which other jobs on the machine move far
 *       less than the wall time.  A label "name@FROM:TO" renames the folder
 *       FROM to TO before each run of its command and back after it (not
 *       timed): commands that find different folders at one path (a
 *       history of their own at the dump's .d) alternate in one run.
 *   runner body SIZE SHAPE FILE
 *       SIZE bytes of urlencoded form data: SHAPE "pairs" (name=value&...,
 *       with escapes) or "field" (one field whose value is a long escaped
 *       text, as a file sent urlencoded) or "pairsN" (N pairs with distinct
 *       names spread over the map's buckets, each value a long escaped text
 *       of about SIZE/N bytes).
 *   runner exec ENVFILE /path/prog arg...
 *       Replaces itself with the program, given exactly the environment of
 *       ENVFILE; standard input and output stay as they are (for the
 *       bench's byte-for-byte comparison of pages and dumps).
 *   runner form N KIND FILE
 *       N pairs; KIND "ordinary" (names spread over the map's buckets) or
 *       "bucket" (every name in the same bucket, ascending: each insert
 *       walks the whole chain).
 *
 * Kept small on purpose: a forked child starts with the parent's memory
 * counted in its peak.
 */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#define MAXCMD 8
#define MAXARG 16
#define MAXREPS 2000
#define MAXENV 512

static void die(const char *what)
{
    perror(what);
    exit(2);
}

static int cmp_double(const void *a, const void *b)
{
    double x = *(const double *)a, y = *(const double *)b;
    return (x > y) - (x < y);
}

static int cmp_long(const void *a, const void *b)
{
    long x = *(const long *)a, y = *(const long *)b;
    return (x > y) - (x < y);
}

/* The q-quantile of n sorted values, linearly interpolated. */
static double quantile(const double *v, int n, double q)
{
    double pos = q * (n - 1);
    int i = (int)pos;
    if (i + 1 >= n)
        return v[n - 1];
    return v[i] + (pos - i) * (v[i + 1] - v[i]);
}

static char *read_all(const char *path, size_t *len)
{
    FILE *f = fopen(path, "rb");
    if (f == NULL)
        die(path);
    size_t cap = 4096, n = 0;
    char *buf = malloc(cap);
    size_t got;
    while (buf != NULL && (got = fread(buf + n, 1, cap - n - 1, f)) > 0) {
        n += got;
        if (cap - n - 1 == 0)
            buf = realloc(buf, cap *= 2);
    }
    if (buf == NULL)
        die("malloc");
    buf[n] = '\0';
    fclose(f);
    *len = n;
    return buf;
}

struct cmd {
    char *label;
    char *from, *to; /* renamed before each run and back after, or NULL */
    char *argv[MAXARG + 1];
    double us[MAXREPS];
    long rss[MAXREPS];
    long flt[MAXREPS];
    double cpu_sum; /* the child's user and system time, us */
};

static struct cmd cmds[MAXCMD];

static void parse_cmd(struct cmd *c, char *befehl)
{
    char *eq = strchr(befehl, '=');
    if (eq == NULL) {
        fprintf(stderr, "command without label: %s\n", befehl);
        exit(2);
    }
    *eq = '\0';
    c->label = befehl;
    char *at = strchr(befehl, '@');
    char *colon = at != NULL ? strchr(at, ':') : NULL;
    if (at != NULL && colon != NULL) {
        *at = *colon = '\0';
        c->from = at + 1;
        c->to = colon + 1;
    }
    int n = 0;
    for (char *t = strtok(eq + 1, " "); t != NULL && n < MAXARG; t = strtok(NULL, " "))
        c->argv[n++] = t;
    c->argv[n] = NULL;
}

static double run_once(struct cmd *c, char **envp, const char *stdinfile, long *maxrss, long *minflt)
{
    struct timespec t0, t1;
    if (c->from != NULL && rename(c->from, c->to) != 0)
        die(c->from);
    clock_gettime(CLOCK_MONOTONIC, &t0);
    pid_t pid = fork();
    if (pid < 0)
        die("fork");
    if (pid == 0) {
        int in = open(stdinfile, O_RDONLY);
        int out = open("/dev/null", O_WRONLY);
        if (in < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0)
            _exit(127);
        close(in);
        close(out);
        execve(c->argv[0], c->argv, envp);
        _exit(127);
    }
    int status;
    struct rusage ru;
    if (wait4(pid, &status, 0, &ru) != pid)
        die("wait4");
    clock_gettime(CLOCK_MONOTONIC, &t1);
    if (c->from != NULL && rename(c->to, c->from) != 0)
        die(c->to);
    if (!WIFEXITED(status) || WEXITSTATUS(status) == 127) {
        fprintf(stderr, "%s: failed (status %d)\n", c->label, status);
        exit(2);
    }
    *maxrss = ru.ru_maxrss;
    *minflt = ru.ru_minflt;
    c->cpu_sum += (double)(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1e6 +
                  (double)(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec);
    return (double)(t1.tv_sec - t0.tv_sec) * 1e6 + (double)(t1.tv_nsec - t0.tv_nsec) / 1e3;
}

/* The environment of ENVFILE, one entry a line, ended by a null entry. */
static char **read_env(const char *path)
{
    size_t envlen;
    char *envtext = read_all(path, &envlen);
    static char *envp[MAXENV + 1];
    int ne = 0;
    for (char *t = strtok(envtext, "\n"); t != NULL && ne < MAXENV; t = strtok(NULL, "\n"))
        envp[ne++] = t;
    envp[ne] = NULL;
    return envp;
}

static int do_exec(int argc, char **argv)
{
    if (argc < 4)
        return 2;
    execve(argv[3], argv + 3, read_env(argv[2]));
    die(argv[3]);
    return 2;
}

static int do_time(int argc, char **argv)
{
    if (argc < 6)
        return 2;
    int reps = atoi(argv[2]);
    if (reps < 1 || reps > MAXREPS)
        return 2;
    char **envp = read_env(argv[3]);
    int nc = argc - 5;
    if (nc > MAXCMD)
        return 2;
    for (int i = 0; i < nc; ++i)
        parse_cmd(&cmds[i], argv[5 + i]);
    /* One unmeasured round warms the page cache and the file system. */
    long dummy, dummy2;
    for (int i = 0; i < nc; ++i)
        run_once(&cmds[i], envp, argv[4], &dummy, &dummy2);
    for (int i = 0; i < nc; ++i)
        cmds[i].cpu_sum = 0;
    /* Each round starts one command further on (A B C, B C A, C A B, ...):
     * a command's place in the round (what ran just before it, what its
     * predecessor left in the caches) is then the same for all. */
    for (int r = 0; r < reps; ++r)
        for (int k = 0; k < nc; ++k) {
            int i = (r + k) % nc;
            cmds[i].us[r] = run_once(&cmds[i], envp, argv[4], &cmds[i].rss[r], &cmds[i].flt[r]);
        }
    for (int i = 0; i < nc; ++i) {
        struct cmd *c = &cmds[i];
        double sum = 0;
        for (int r = 0; r < reps; ++r)
            sum += c->us[r];
        qsort(c->us, (size_t)reps, sizeof c->us[0], cmp_double);
        qsort(c->rss, (size_t)reps, sizeof c->rss[0], cmp_long);
        qsort(c->flt, (size_t)reps, sizeof c->flt[0], cmp_long);
        printf("%s %.1f %.1f %.1f %ld %ld %ld %.1f %.1f\n", c->label, quantile(c->us, reps, 0.5),
               quantile(c->us, reps, 0.25), quantile(c->us, reps, 0.75), c->rss[reps / 2],
               c->rss[reps - 1], c->flt[reps / 2], sum / reps, c->cpu_sum / reps);
    }
    return 0;
}

/* Buffered output of generated data. */
static FILE *out_open(const char *path)
{
    FILE *f = fopen(path, "wb");
    if (f == NULL)
        die(path);
    return f;
}

static void out_close(FILE *f)
{
    if (fflush(f) != 0 || ferror(f) || fclose(f) != 0)
        die("write");
}

/* A line of German text with umlauts and separators, as a browser
 * encodes it: the decoder meets plain bytes, '+' and %XX escapes. */
static const char text[] = "Gr%FC%DFe+aus+M%FCnchen%2C+Stra%DFe+%26+Platz+Nr.+7%3A+%22gut%22+%3D+ok%21+";

/* Writes exactly len bytes of the escaped text: whole copies of it, then
 * plain letters, so that no escape is cut. */
static void fill_text(FILE *f, long long len)
{
    long long k = (long long)sizeof text - 1;
    for (; len >= k; len -= k)
        fwrite(text, 1, (size_t)k, f);
    for (; len > 0; --len)
        fputc('x', f);
}

/* N pairs of exactly size bytes together: names as in an ordinary form
 * (first and last letters varied, all distinct), values escaped text. */
static int body_pairs(FILE *f, long long size, long n)
{
    static const char first[] = "abcdefghijklmnopqrstuvwxyz";
    long long per = size / n, done = 0;
    char name[64];
    for (long i = 0; i < n; ++i) {
        int len = snprintf(name, sizeof name, "%s%cfeld%ld%c=", i > 0 ? "&" : "", first[i % 26], i,
                           first[(i / 26) % 26]);
        long long piece = i + 1 < n ? per : size - done;
        if (piece < len)
            return 2;
        fwrite(name, 1, (size_t)len, f);
        fill_text(f, piece - len);
        done += piece;
    }
    return 0;
}

static int do_body(int argc, char **argv)
{
    if (argc != 5)
        return 2;
    long long size = atoll(argv[2]);
    int field = strcmp(argv[3], "field") == 0;
    FILE *f = out_open(argv[4]);
    if (strncmp(argv[3], "pairs", 5) == 0 && argv[3][5] != '\0') {
        long n = atol(argv[3] + 5);
        int rc = n > 0 ? body_pairs(f, size, n) : 2;
        out_close(f);
        return rc;
    }
    char piece[256];
    long long n = 0;
    long i = 0;
    if (field) {
        n += fprintf(f, "datei=");
        while (n < size) {
            long long rest = size - n;
            size_t k = sizeof text - 1;
            if ((long long)k > rest)
                k = (size_t)rest;
            /* Never cut an escape: pad the tail with plain letters. */
            if (k < sizeof text - 1)
                for (size_t j = 0; j < k; ++j)
                    fputc('x', f);
            else
                fwrite(text, 1, k, f);
            n += (long long)k;
        }
    } else {
        while (n < size) {
            int len = snprintf(piece, sizeof piece, "%sfeld%ld=%s", i > 0 ? "&" : "", i % 1000, text);
            long long rest = size - n;
            if (len > rest) {
                for (long long j = 0; j < rest; ++j)
                    fputc('x', f);
                n = size;
                break;
            }
            fwrite(piece, 1, (size_t)len, f);
            n += len;
            ++i;
        }
    }
    out_close(f);
    return 0;
}

static int do_form(int argc, char **argv)
{
    if (argc != 5)
        return 2;
    long n = atol(argv[2]);
    int bucket = strcmp(argv[3], "bucket") == 0;
    FILE *f = out_open(argv[4]);
    static const char first[] = "abcdefghijklmnopqrstuvwxyz";
    for (long i = 0; i < n; ++i) {
        if (i > 0)
            fputc('&', f);
        if (bucket)
            /* 'a' ... 'b': bucket 20 for every name, ascending by number. */
            fprintf(f, "a%06ldb=wert+%ld", i, i);
        else
            /* Names as forms have them, first and last letters varied. */
            fprintf(f, "%cfeld%ld%c=wert+%ld%%21", first[i % 26], i, first[(i / 26) % 26], i);
    }
    out_close(f);
    return 0;
}

int main(int argc, char **argv)
{
    int rc = 2;
    if (argc >= 2 && strcmp(argv[1], "time") == 0)
        rc = do_time(argc, argv);
    else if (argc >= 2 && strcmp(argv[1], "body") == 0)
        rc = do_body(argc, argv);
    else if (argc >= 2 && strcmp(argv[1], "form") == 0)
        rc = do_form(argc, argv);
    else if (argc >= 2 && strcmp(argv[1], "exec") == 0)
        rc = do_exec(argc, argv);
    if (rc == 2)
        fprintf(stderr, "usage: runner time REPS ENVFILE STDINFILE 'label=prog args' ...\n"
                        "       runner body SIZE pairs|field|pairsN FILE\n"
                        "       runner form N ordinary|bucket FILE\n"
                        "       runner exec ENVFILE /path/prog arg...\n");
    return rc;
}
