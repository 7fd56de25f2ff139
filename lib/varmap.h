// A small map from a variable's name to its value, both zero-terminated
// byte strings.  25 fixed buckets, each a singly linked chain kept in
// ascending byte-wise name order.  The map copies every text it is given
// and owns the copies.  Beside each chain the map keeps an index over the
// same entries, so that inserting and looking up a name take a number of
// name comparisons that grows with the logarithm of the bucket's size,
// however the names are ordered and however long a prefix they share.
#ifndef VOKT_VARMAP_H
#define VOKT_VARMAP_H

#include <cstdio>

constexpr int VARMAPSIZE = 25;

class Varmapiter;

class Varmap {
public:
    struct elem_t {
        char *name;  // the variable's name: a copy, or see eigen
        char *val;   // its value: a copy, or see eigen
        elem_t *nxt; // next entry of the same bucket, null at the end
        // Which of the two texts are this entry's own copies; the others
        // lie in a buffer the map took over (see uebernimm).
        unsigned char eigen = NAME_EIGEN | WERT_EIGEN;
        static constexpr unsigned char NAME_EIGEN = 1;
        static constexpr unsigned char WERT_EIGEN = 2;

        // Both copies are null when memory ran out; see ok().
        elem_t(const char *n, const char *v);
        // Texts in a buffer of the map, stored as they are.
        struct geliehen {};
        elem_t(char *n, char *v, geliehen);
        ~elem_t();
        elem_t(const elem_t &) = delete;
        elem_t &operator=(const elem_t &) = delete;

        bool ok() const { return name != nullptr && val != nullptr; }
        // Stores a fresh copy of value; the old copy is released only after
        // the new one exists, so value may be this entry's own val.
        // 0 on success, -1 when memory ran out (the old value stays).
        int replace(const char *value);
        // Stores value, a text in a buffer of the map, as it is.
        void leihe(char *value);
    };

    Varmap();
    ~Varmap();
    Varmap(const Varmap &) = delete;
    Varmap &operator=(const Varmap &) = delete;

    // Adds name with value, or replaces the value stored for name.
    // 1 when an entry was added, 0 when a value was replaced, -1 when
    // memory ran out (the map is unchanged then).
    int insert(const char *name, const char *value);
    int insert(const char *name, double number);
    int insert(const char *name, long number);

    // The stored value itself (owned by the map), or null.
    const char *operator[](const char *name) const;

    // For a decoder that works in place on a large buffer: the map takes
    // over puffer (from malloc) and releases it at its end; names and
    // values that lie in it are then stored with insert_ohne_kopie, which
    // keeps them where they are instead of copying them.  False when the
    // map cannot take it (memory ran out): the caller keeps puffer and
    // stores copies with insert.
    bool uebernimm(char *puffer);
    int insert_ohne_kopie(char *name, char *value);

protected:
    static int hash(const char *s);
    elem_t *in[VARMAPSIZE];

private:
    // A node of a bucket's index: a balanced search tree whose nodes point
    // at the entries of the bucket's chain, in the chain's order.  The
    // index owns its nodes only, never an entry or a text.  The nodes of
    // all buckets come from blocks that the map takes a few at a time.
    // Both defined in varmap.cpp.
    struct knoten;
    struct knotenblock;
    knoten *baum[VARMAPSIZE];
    knotenblock *bloecke; // newest first
    struct puffer_t;
    puffer_t *puffer; // the buffers taken over, newest first

    template <class Neu, class Ersetze> int einfuegen(const char *name, Neu neu, Ersetze ersetze);

    friend class Varmapiter;
};

inline int Varmap::insert(const char *name, double number)
{
    char text[64]; // "%g" needs at most 13 characters or so
    std::snprintf(text, sizeof text, "%g", number);
    return insert(name, text);
}

inline int Varmap::insert(const char *name, long number)
{
    char text[32]; // "%ld" of a 64-bit long needs at most 20
    std::snprintf(text, sizeof text, "%ld", number);
    return insert(name, text);
}

// Walks all entries of one map: buckets 0 to 24, each in chain order.
class Varmapiter {
public:
    explicit Varmapiter(const Varmap *dieser) : bukp(dieser->in), bukpstop(dieser->in + VARMAPSIZE), akt(dieser->in[0])
    {
        positioniere();
    }

    // Name of the current entry; null at the end.
    const char *operator()() const { return akt ? akt->name : nullptr; }

    // Name and value of the current entry; both null at the end.
    void inhalt(const char *&name, const char *&inhalt) const
    {
        name = akt ? akt->name : nullptr;
        inhalt = akt ? akt->val : nullptr;
    }

    // Advances and yields the new current name; at the end it stays there.
    const char *next()
    {
        if (akt == nullptr)
            return nullptr;
        akt = akt->nxt;
        positioniere();
        return akt ? akt->name : nullptr;
    }

private:
    Varmap::elem_t *positioniere()
    {
        if (akt != nullptr)
            return akt;
        for (++bukp; bukp < bukpstop && *bukp == nullptr; ++bukp) {
        }
        akt = bukp < bukpstop ? *bukp : nullptr;
        return akt;
    }

    Varmap::elem_t *const *bukp;
    Varmap::elem_t *const *bukpstop;
    Varmap::elem_t *akt;
};

#endif
