/* The work floor of the bench: the page and the dump file of vokt.cgi for
 * a POST of form data, produced as fast as a small C program can.  vokt.cgi
 * is measured against it on large bodies, and the bench compares its bytes
 * with vokt.cgi's before it times anything.
 *
 * What it does differently from vokt.cgi, for speed:
 *   - the body is read once into one buffer of its announced size and
 *     handled in pieces of 1 MiB while they are in the cache: written to
 *     the dump with write(2), echoed, decoded;
 *   - the escape scan (& < > " and the end at a zero byte) and the decoder
 *     (= & + % and the bytes that will need escaping) find their bytes with
 *     vector compares, 64 bytes at a time, SSE2 or AVX2 (-mavx2);
 *   - decoding is in place; names and values stay where the decoder put
 *     them, the map's order is an index sort, nothing is copied;
 *   - the decoder notes which names and values hold a byte that needs
 *     escaping: clean ones go to the page without a second scan;
 *   - page text goes out with writev(2): long runs straight from the body
 *     buffer, short pieces and entities gathered in a 64 KiB buffer.
 *
 * Scope: what the bench sends.  The user is nobody (dump in /tmp), the
 * method GET or POST, the body arrives whole, the directory takes a fresh
 * dump file; anything else ends with status 2.
 *
 * With WORKFLOOR_PHASES in the environment it prints the time of each
 * phase to standard error.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

#ifdef __AVX2__
#include <immintrin.h>
typedef __m256i vec;
#define VW 32
#define vload(p) _mm256_loadu_si256((const __m256i *)(p))
#define vstore(p, v) _mm256_storeu_si256((__m256i *)(p), v)
#define veq(a, b) _mm256_cmpeq_epi8(a, b)
#define vor(a, b) _mm256_or_si256(a, b)
#define vset(c) _mm256_set1_epi8((char)(c))
#define vbits(v) ((uint64_t)(uint32_t)_mm256_movemask_epi8(v))
#else
#include <emmintrin.h>
typedef __m128i vec;
#define VW 16
#define vload(p) _mm_loadu_si128((const __m128i *)(p))
#define vstore(p, v) _mm_storeu_si128((__m128i *)(p), v)
#define veq(a, b) _mm_cmpeq_epi8(a, b)
#define vor(a, b) _mm_or_si128(a, b)
#define vset(c) _mm_set1_epi8((char)(c))
#define vbits(v) ((uint64_t)(uint32_t)_mm_movemask_epi8(v))
#endif

#define CHUNK (1u << 20)
#define PAD 128 /* readable and writable bytes after every scanned text */
#define MAXPAIRS 10000
#define NOBODY 65534

/* ---- phases ---- */

enum { P_READ, P_DUMP, P_ECHO, P_DECODE, P_ORDER, P_LIST, P_COUNT };
static const char *const phase_name[P_COUNT] = {"read", "dump write", "echo", "decode", "order", "listing"};
static double phase_ms[P_COUNT];
static int timing;

static double now_ms(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec * 1e3 + (double)t.tv_nsec / 1e6;
}

static double phase_start(void)
{
    return timing ? now_ms() : 0;
}

static void phase_end(int phase, double start)
{
    if (timing)
        phase_ms[phase] += now_ms() - start;
}

/* ---- the page: writev of long runs in place, short pieces gathered ---- */

#define NIOV 1024
#define LONGRUN 512
#define STAGE (64 * 1024)

static struct {
    struct iovec iov[NIOV];
    int n;
    size_t used; /* bytes in stage */
    size_t open; /* start of the stage's bytes not yet in an iovec */
    int failed;
    char stage[STAGE + 128]; /* vector copies may write past used */
} page;

static void page_close_stage(void);

static void page_flush(void)
{
    page_close_stage();
    struct iovec *v = page.iov;
    int n = page.n;
    while (n > 0 && !page.failed) {
        ssize_t w = writev(1, v, n > IOV_MAX ? IOV_MAX : n);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0) {
            page.failed = 1;
            break;
        }
        size_t left = (size_t)w;
        while (n > 0 && left >= v->iov_len) {
            left -= v->iov_len;
            ++v;
            --n;
        }
        if (n > 0) {
            v->iov_base = (char *)v->iov_base + left;
            v->iov_len -= left;
        }
    }
    page.n = 0;
    page.used = page.open = 0;
}

static void page_iov(const char *p, size_t n)
{
    if (page.n == NIOV)
        page_flush();
    page.iov[page.n].iov_base = (void *)p;
    page.iov[page.n].iov_len = n;
    ++page.n;
}

/* The gathered bytes since the last iovec become one. */
static void page_close_stage(void)
{
    if (page.used > page.open) {
        size_t from = page.open;
        page.open = page.used;
        page_iov(page.stage + from, page.used - from);
    }
}

/* Room for n more gathered bytes (n <= STAGE). */
static inline char *page_room(size_t n)
{
    if (n > STAGE - page.used)
        page_flush();
    return page.stage + page.used;
}

/* p must stay unchanged until the next page_flush when n >= LONGRUN. */
static void page_put(const char *p, size_t n)
{
    if (n >= LONGRUN) {
        page_close_stage();
        page_iov(p, n);
        return;
    }
    memcpy(page_room(n), p, n);
    page.used += n;
}

static void page_str(const char *s)
{
    page_put(s, strlen(s));
}

/* ---- escaping ---- */

/* Entities padded to 8 bytes, indexed by the byte, with their lengths. */
static char entity_text[256][8];
static unsigned char entity_len[256];

/* Bit i set where p[i] is one of & < > " or a zero byte, i < 64. */
static inline uint64_t escape_mask(const char *p)
{
    const vec amp = vset('&'), lt = vset('<'), gt = vset('>'), quot = vset('"'), nul = vset(0);
    uint64_t m = 0;
    for (int i = 0; i < 64; i += VW) {
        vec v = vload(p + i);
        vec e = vor(vor(veq(v, amp), veq(v, lt)), vor(vor(veq(v, gt), veq(v, quot)), veq(v, nul)));
        m |= vbits(e) << i;
    }
    return m;
}

/* A run of text onto the page: long ones in place, short ones copied a
 * vector at a time (the source may be read up to a vector past its end). */
static inline void page_run(const char *p, size_t n)
{
    if (n >= LONGRUN) {
        page_close_stage();
        page_iov(p, n);
        return;
    }
    char *to = page_room(n);
    for (size_t i = 0; i < n; i += VW)
        vstore(to + i, vload(p + i));
    page.used += n;
}

/* The first n bytes of p onto the page, escaped, up to a zero byte.
 * 1 when a zero byte ended the text.  padded: up to 64 bytes after p + n
 * may be read; else none is. */
static int page_escaped(const char *p, size_t n, int padded)
{
    const char *run = p, *end = p + n, *q = p;
    for (; end - q >= 64 || (padded && q < end); q += 64) {
        _mm_prefetch(q + 2048, _MM_HINT_T0); /* the decoded text is no longer in the cache */
        uint64_t m = escape_mask(q);
        if (end - q < 64)
            m &= (1ULL << (end - q)) - 1;
        for (; m != 0; m &= m - 1) {
            const char *at = q + __builtin_ctzll(m);
            unsigned char c = (unsigned char)*at;
            if (padded)
                page_run(run, (size_t)(at - run));
            else
                page_put(run, (size_t)(at - run));
            if (c == '\0')
                return 1;
            memcpy(page_room(8), entity_text[c], 8);
            page.used += entity_len[c];
            run = at + 1;
        }
    }
    for (; q < end; ++q) {
        unsigned char c = (unsigned char)*q;
        if (entity_len[c] != 0 || c == '\0') {
            page_put(run, (size_t)(q - run));
            if (c == '\0')
                return 1;
            page_put(entity_text[c], entity_len[c]);
            run = q + 1;
        }
    }
    if (padded)
        page_run(run, (size_t)(end - run));
    else
        page_put(run, (size_t)(end - run));
    return 0;
}

/* ---- decoding ---- */

struct text {
    const char *p;
    uint32_t len; /* up to the first zero byte: what the map would see */
    uint32_t dirty; /* may hold a byte that needs escaping */
};

struct pair {
    struct text name, value;
    uint32_t seq;
    int bucket;
};

static struct pair *pairs;
static uint32_t npairs;

static int bucket_of(const struct text *t)
{
    if (t->len == 0)
        return 0;
    int rest = ((signed char)t->p[0] + (signed char)t->p[t->len - 1]) % 25;
    return rest < 0 ? rest + 25 : rest;
}

static signed char hexval[256];
static unsigned char needs_escape[256];

static void tables(void)
{
    for (int c = 0; c < 256; ++c) {
        hexval[c] = (signed char)(c >= '0' && c <= '9' ? c - '0'
                                  : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                  : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                         : 0);
        needs_escape[c] = c == '&' || c == '<' || c == '>' || c == '"';
    }
    static const char *const ent[4] = {"&&amp;", "<&lt;", ">&gt;", "\"&quot;"};
    for (int i = 0; i < 4; ++i) {
        unsigned char c = (unsigned char)ent[i][0];
        entity_len[c] = (unsigned char)strlen(ent[i] + 1);
        memcpy(entity_text[c], ent[i] + 1, entity_len[c]);
    }
}

/* One decoding of form data in place, fed as the bytes arrive. */
struct decoder {
    char *end;        /* end of the input (known in advance) */
    char *block;      /* next 64 bytes to scan */
    char *l;          /* next input byte */
    char *s;          /* next output byte */
    char *start;      /* output of the piece being decoded */
    char *nul;        /* its first zero byte, or null */
    uint32_t dirty;   /* it holds a byte that needs escaping */
    struct text name; /* the last name seen ('=') */
    int count;        /* pairs stored */
    int stopped;      /* too many pairs: decode no further */
};

static void decoder_init(struct decoder *d, char *p, size_t n)
{
    memset(d, 0, sizeof *d);
    d->end = p + n;
    d->block = d->l = d->s = d->start = p;
    d->name.p = "";
}

/* vokt.cgi stores at most MAXPAIRS pairs per decoding and reports the
 * first one beyond; false then. */
static int store(struct decoder *d, struct text value)
{
    if (d->count == MAXPAIRS) {
        d->stopped = 1;
        return 0;
    }
    ++d->count;
    struct pair *p = &pairs[npairs];
    p->name = d->name;
    p->value = value;
    p->seq = npairs++;
    p->bucket = bucket_of(&p->name);
    return 1;
}

/* Bits of the bytes the decoder stops at: = & % and zero, and < > " (only
 * noted). */
static inline uint64_t decode_mask(const char *p)
{
    const vec pct = vset('%'), eq = vset('='), amp = vset('&'), nul = vset(0);
    const vec lt = vset('<'), gt = vset('>'), quot = vset('"');
    uint64_t m = 0;
    for (int i = 0; i < 64; i += VW) {
        vec v = vload(p + i);
        vec e = vor(vor(veq(v, pct), veq(v, eq)), vor(veq(v, amp), veq(v, nul)));
        e = vor(e, vor(veq(v, lt), vor(veq(v, gt), veq(v, quot))));
        m |= vbits(e) << i;
    }
    return m;
}

/* Moves the n input bytes at l to s, each '+' becoming a space.  Whole
 * vectors are copied: up to 15 bytes past the run are written, which with
 * a gap of a vector or more lie below the input still to be read, and in
 * place are input bytes whose '+' would become a space anyway. */
static inline void move_run(char *s, const char *l, size_t n)
{
    const __m128i plus = _mm_set1_epi8('+'), flip = _mm_set1_epi8('+' ^ ' ');
    if (l - s >= 16 || l == s) {
        size_t i = 0;
        do {
            __m128i v = _mm_loadu_si128((const __m128i *)(l + i));
            v = _mm_xor_si128(v, _mm_and_si128(_mm_cmpeq_epi8(v, plus), flip));
            _mm_storeu_si128((__m128i *)(s + i), v);
            i += 16;
        } while (i < n);
    } else {
        for (size_t i = 0; i < n; ++i)
            s[i] = l[i] == '+' ? ' ' : l[i];
    }
}

/* Decodes the blocks whose bytes (and two after them, for an escape)
 * have arrived, up to avail; all of the input when avail is its end.  The
 * state lives in locals here: stores through char pointers would make the
 * compiler reload it from the decoder after every output byte. */
static void decode_upto(struct decoder *d, char *avail)
{
    char *const end = d->end;
    char *l = d->l, *s = d->s, *nul = d->nul, *b = d->block;
    uint32_t dirty = d->dirty;
    int last = avail == end;
    for (; !d->stopped && (b + 64 + 2 <= avail || (last && b < end)); b += 64) {
        _mm_prefetch(b + 2048, _MM_HINT_T0);
        uint64_t m = decode_mask(b);
        if (end - b < 64)
            m &= (1ULL << (end - b)) - 1;
        if (l > b)
            m &= ~0ULL << (l - b);
        while (m != 0) {
            unsigned k = (unsigned)__builtin_ctzll(m);
            char *at = b + k;
            unsigned char c = (unsigned char)*at;
            if (c == '%') {
                /* The escape and its two digits: their bits go (bits of
                 * the next block are cleared there, by l). */
                m &= ~(7ULL << k);
                size_t n = (size_t)(at - l);
                move_run(s, l, n);
                s += n;
                unsigned char z;
                if (end - at > 2) {
                    z = (unsigned char)(hexval[(unsigned char)at[1]] * 16 + hexval[(unsigned char)at[2]]);
                    l = at + 3;
                } else {
                    /* Digits missing at the end of the input count as '0'. */
                    int hi = end - at > 1 ? hexval[(unsigned char)at[1]] : 0;
                    z = (unsigned char)(hi * 16);
                    l = end;
                }
                dirty |= needs_escape[z];
                if (z == 0 && nul == NULL)
                    nul = s;
                *s++ = (char)z;
                continue;
            }
            m &= m - 1;
            if (c == '<' || c == '>' || c == '"') {
                dirty = 1;
            } else {
                size_t n = (size_t)(at - l);
                move_run(s, l, n);
                s += n;
                l = at + 1;
                if (c == '\0') {
                    /* A zero byte in the input ends the text it is in. */
                    if (nul == NULL)
                        nul = s;
                    *s++ = '\0';
                } else {
                    struct text t = {d->start, (uint32_t)((nul != NULL ? nul : s) - d->start), dirty};
                    *s++ = '\0';
                    d->start = s;
                    dirty = 0;
                    nul = NULL;
                    if (c == '=')
                        d->name = t;
                    else if (!store(d, t))
                        break;
                }
            }
        }
    }
    if (last && !d->stopped) {
        if (l < end)
            move_run(s, l, (size_t)(end - l));
        s += end - l;
        l = end;
        *s = '\0';
        struct text t = {d->start, (uint32_t)((nul != NULL ? nul : s) - d->start), dirty};
        store(d, t);
    }
    d->l = l;
    d->s = s;
    d->nul = nul;
    d->dirty = dirty;
    d->block = b;
}

/* ---- the listing: the map's order without the map ---- */

static int text_cmp(const struct text *a, const struct text *b)
{
    uint32_t n = a->len < b->len ? a->len : b->len;
    int c = memcmp(a->p, b->p, n);
    return c != 0 ? c : (a->len > b->len) - (a->len < b->len);
}

static int pair_cmp(const void *x, const void *y)
{
    const struct pair *a = x, *b = y;
    if (a->bucket != b->bucket)
        return a->bucket - b->bucket;
    int c = text_cmp(&a->name, &b->name);
    return c != 0 ? c : (a->seq > b->seq) - (a->seq < b->seq);
}

static void page_text(const struct text *t)
{
    if (t->dirty)
        page_escaped(t->p, t->len, 1);
    else
        page_put(t->p, t->len);
}

static void listing(void)
{
    double t0 = phase_start();
    qsort(pairs, npairs, sizeof *pairs, pair_cmp);
    phase_end(P_ORDER, t0);
    t0 = phase_start();
    /* Of equal names the last value counts. */
    for (uint32_t i = 0; i < npairs; ++i) {
        if (i + 1 < npairs && pairs[i + 1].bucket == pairs[i].bucket && text_cmp(&pairs[i].name, &pairs[i + 1].name) == 0)
            continue;
        page_text(&pairs[i].name);
        page_put(" = ", 3);
        page_text(&pairs[i].value);
        page_put("<p>\n", 4);
    }
    page_flush();
    phase_end(P_LIST, t0);
}

/* ---- the request ---- */

static void too_many(void)
{
    page_str("<B>F E H L E R:</B>Zu viele Formularvariablen, nur die ersten 10000 wurden \xFC"
             "bernommen<p>\n</BODY>\n</HTML>\n");
}

static _Noreturn void unsupported(const char *what)
{
    page_flush();
    fprintf(stderr, "workfloor: %s is beyond what the bench sends\n", what);
    exit(2);
}

static int write_all(int fd, const char *p, size_t n)
{
    while (n > 0) {
        ssize_t w = write(fd, p, n);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return -1;
        p += w;
        n -= (size_t)w;
    }
    return 0;
}

/* The value of an entry that starts with a name of namelen bytes. */
static const char *value_of(const char *entry, size_t namelen)
{
    for (size_t i = 0; i <= namelen; ++i)
        if (entry[i] == '\0')
            return "";
    return entry + namelen + 1;
}

/* atoi with saturation, as vokt.cgi reads CONTENT_LENGTH. */
static int number(const char *s)
{
    while (*s == ' ' || (*s >= '\t' && *s <= '\r'))
        ++s;
    int neg = *s == '-';
    if (*s == '-' || *s == '+')
        ++s;
    long long n = 0;
    for (; *s >= '0' && *s <= '9'; ++s)
        if ((n = n * 10 + (*s - '0')) > INT_MAX)
            return neg ? INT_MIN : INT_MAX;
    return (int)(neg ? -n : n);
}

/* A fresh file, mode 0600, renamed over the path. */
static int fresh_dump(const char *path)
{
    char tmp[64];
    snprintf(tmp, sizeof tmp, "%s.XXXXXX", path);
    int fd = mkstemp(tmp);
    if (fd >= 0 && (fchmod(fd, 0600) != 0 || rename(tmp, path) != 0)) {
        unlink(tmp);
        close(fd);
        fd = -1;
    }
    return fd;
}

struct request {
    int post;
    int length;
    const char *query;
};

/* Page head to the environment section, the dump's head; the request. */
static struct request head(char **env, int dump, const char *path)
{
    struct request r = {0, 0, NULL};
    page_str("Content-type: text/html\n\n<HTML>\n<TITLE>Cgi-Dump</TITLE>\n</HEAD>\n<BODY>\n<H1>Cgi-Dump</H1>\n");
    char line[128];
    snprintf(line, sizeof line, "<H2>User-Information</H2>Ich bin effektiv Nutzer %d und pinsele daher in ", NOBODY);
    page_str(line);
    page_escaped(path, strlen(path), 0);
    page_str("<p>\n<H2>Die Environmentvariablen</H2>\n");
    size_t cap = 64 * 1024, used = 0;
    char *text = malloc(cap);
    for (char **e = env; *e != NULL; ++e) {
        size_t n = strlen(*e);
        page_escaped(*e, n, 0);
        page_put("<p>\n", 4);
        while (text != NULL && cap - used < n + 16)
            text = realloc(text, cap *= 2);
        if (text == NULL)
            unsupported("memory");
        memcpy(text + used, *e, n);
        text[used + n] = '\n';
        used += n + 1;
        if (strncmp(*e, "REQUEST_METHOD", 14) == 0) {
            const char *m = value_of(*e, 14);
            if (strncasecmp(m, "POST", 4) == 0)
                r.post = 1;
            else if (strncasecmp(m, "GET", 3) == 0)
                r.post = 0;
            else
                unsupported("the method");
        } else if (strncmp(*e, "CONTENT_LENGTH", 14) == 0) {
            r.length = number(value_of(*e, 14));
        } else if (strncmp(*e, "QUERY_STRING", 12) == 0) {
            r.query = value_of(*e, 12);
        }
    }
    used += (size_t)snprintf(text + used, 16, "*%d\n", r.length);
    if (write_all(dump, text, used) != 0)
        unsupported("a failed dump write");
    free(text);
    return r;
}

/* The body: read, dumped, echoed and decoded piece by piece. */
static void body(struct request r, int dump)
{
    char line[64];
    snprintf(line, sizeof line, "L\xE4nge des Inhalts:%d\n", r.length);
    page_str(line);
    if (r.length < 0 || r.length == INT_MAX)
        unsupported("this length");
    size_t n = (size_t)r.length;
    char *buf = malloc(n + PAD);
    if (buf == NULL)
        unsupported("memory");
    struct decoder d;
    decoder_init(&d, buf, n);
    page_put("<PRE>", 5);
    size_t have = 0;
    int echo_ended = 0;
    while (have < n) {
        double t0 = phase_start();
        size_t want = n - have < CHUNK ? n - have : CHUNK;
        ssize_t got = read(0, buf + have, want);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            unsupported("a short body");
        phase_end(P_READ, t0);
        t0 = phase_start();
        if (write_all(dump, buf + have, (size_t)got) != 0)
            unsupported("a failed dump write");
        phase_end(P_DUMP, t0);
        t0 = phase_start();
        if (!echo_ended)
            echo_ended = page_escaped(buf + have, (size_t)got, 1);
        page_flush(); /* the page refers to bytes the decoder changes */
        phase_end(P_ECHO, t0);
        have += (size_t)got;
        t0 = phase_start();
        decode_upto(&d, buf + have);
        phase_end(P_DECODE, t0);
    }
    page_put("</PRE>\n", 7);
    if (n > 0 && d.stopped)
        too_many();
}

static void query(const char *q)
{
    size_t n = strlen(q);
    if (n == 0)
        return;
    char *copy = malloc(n + PAD);
    if (copy == NULL)
        unsupported("memory");
    memcpy(copy, q, n);
    struct decoder d;
    decoder_init(&d, copy, n);
    decode_upto(&d, copy + n);
    if (d.stopped)
        too_many();
}

int main(int argc, char **argv, char **env)
{
    (void)argc;
    signal(SIGPIPE, SIG_IGN);
    if (argv[0] != NULL && argv[1] != NULL)
        unsupported("a command line");
    if (geteuid() != NOBODY)
        unsupported("a user other than nobody");
    timing = getenv("WORKFLOOR_PHASES") != NULL;
    double t_all = phase_start();
    tables();
    pairs = malloc(sizeof *pairs * (2 * MAXPAIRS + 2));
    char path[32];
    snprintf(path, sizeof path, "/tmp/cgidump%d", NOBODY);
    int dump = fresh_dump(path);
    if (dump < 0 || pairs == NULL)
        unsupported("a dump file that cannot be made fresh");
    struct request r = head(env, dump, path);
    if (r.post)
        body(r, dump);
    if (close(dump) != 0)
        unsupported("a failed dump write");
    if (r.query != NULL)
        query(r.query);
    page_str("<H2>Die Liste der Variablen</H2>\n");
    listing();
    if (timing) {
        double total = now_ms() - t_all;
        for (int i = 0; i < P_COUNT; ++i) {
            fprintf(stderr, "%-11s %8.1f ms\n", phase_name[i], phase_ms[i]);
            total -= phase_ms[i];
        }
        fprintf(stderr, "%-11s %8.1f ms\n", "rest", total);
    }
    return page.failed ? 1 : 0;
}
