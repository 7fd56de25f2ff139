#include "varmap.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

Varmap::elem_t::elem_t(const char *n, const char *v) : name(strdup(n)), val(strdup(v)), nxt(nullptr)
{
}

Varmap::elem_t::elem_t(char *n, char *v, geliehen) : name(n), val(v), nxt(nullptr), eigen(0)
{
}

Varmap::elem_t::~elem_t()
{
    if (eigen & NAME_EIGEN)
        std::free(name);
    if (eigen & WERT_EIGEN)
        std::free(val);
}

int Varmap::elem_t::replace(const char *value)
{
    char *copy = strdup(value);
    if (copy == nullptr)
        return -1;
    if (eigen & WERT_EIGEN)
        std::free(val);
    val = copy;
    eigen |= WERT_EIGEN;
    return 0;
}

void Varmap::elem_t::leihe(char *value)
{
    if (eigen & WERT_EIGEN)
        std::free(val);
    val = value;
    eigen &= static_cast<unsigned char>(~WERT_EIGEN);
}

struct Varmap::puffer_t {
    char *daten;
    puffer_t *davor;
};

// One bucket's index is an AVL tree: the heights of a node's two subtrees
// differ by at most one, so a search passes at most about 1.44 log2(n)
// nodes and compares the name once with each.  A search also yields the
// entry with the greatest smaller name, whose nxt is the link where a new
// entry goes into the chain.  The tree never allocates while it rebalances,
// so an insert that runs out of memory does so before anything changed.
struct Varmap::knoten {
    elem_t *eintrag;
    knoten *kind[2]; // [0]: smaller names, [1]: greater names
    int hoehe;       // of the subtree rooted here; a leaf has 1

    // Links from a root slot down to any node: an AVL tree of height h has
    // at least Fib(h + 2) - 1 nodes, and height 91 would already need more
    // nodes than a 64-bit address space holds.
    static constexpr int TIEFE = 96;

    // The result of a search: the links passed, from the root slot to the
    // link where the search ended (the one pointing at the entry's node, or
    // the empty link where a node for the name belongs).
    struct stelle {
        knoten **weg[TIEFE];
        int tiefe;
        elem_t *vorgaenger; // the entry before the name in the chain, or null
    };

    static int h(const knoten *k) { return k != nullptr ? k->hoehe : 0; }
    static elem_t *suche(knoten **wurzel, const char *name, stelle &s);
    static const elem_t *finde(const knoten *k, const char *name);
    static void einhaengen(const stelle &s, knoten *neu);
    static knoten *hebe(knoten *k, int seite);
    static knoten *balanciere(knoten *k);
};

// Nodes are taken from blocks of 16, which the map releases together: one
// allocation for many entries, none to release a single node.
struct Varmap::knotenblock {
    static constexpr int ANZAHL = 16;
    knotenblock *davor;
    int belegt;
    knoten platz[ANZAHL];

    static knoten *frei(knotenblock *&bloecke);
};

// The next unused node of the newest block, after adding a block when that
// one is full; null when memory ran out.  The node counts as used once the
// caller increments belegt, so an insert that fails later leaves it free.
Varmap::knoten *Varmap::knotenblock::frei(knotenblock *&bloecke)
{
    if (bloecke == nullptr || bloecke->belegt == ANZAHL) {
        void *platz = std::malloc(sizeof(knotenblock));
        if (platz == nullptr)
            return nullptr;
        auto *neu = new (platz) knotenblock;
        neu->davor = bloecke;
        neu->belegt = 0;
        bloecke = neu;
    }
    return &bloecke->platz[bloecke->belegt];
}

// Names are ordered byte-wise with every byte taken as unsigned: strcmp.
Varmap::elem_t *Varmap::knoten::suche(knoten **wurzel, const char *name, stelle &s)
{
    s.tiefe = 0;
    s.vorgaenger = nullptr;
    knoten **link = wurzel;
    for (;;) {
        s.weg[s.tiefe++] = link;
        knoten *k = *link;
        if (k == nullptr)
            return nullptr;
        int order = std::strcmp(name, k->eintrag->name);
        if (order == 0)
            return k->eintrag;
        if (order > 0)
            s.vorgaenger = k->eintrag;
        link = &k->kind[order > 0 ? 1 : 0];
    }
}

const Varmap::elem_t *Varmap::knoten::finde(const knoten *k, const char *name)
{
    while (k != nullptr) {
        int order = std::strcmp(name, k->eintrag->name);
        if (order == 0)
            return k->eintrag;
        k = k->kind[order > 0 ? 1 : 0];
    }
    return nullptr;
}

// Lifts k's child on seite into k's place (a rotation); gives the new root
// of the subtree.
Varmap::knoten *Varmap::knoten::hebe(knoten *k, int seite)
{
    knoten *c = k->kind[seite];
    k->kind[seite] = c->kind[1 - seite];
    c->kind[1 - seite] = k;
    k->hoehe = 1 + std::max(h(k->kind[0]), h(k->kind[1]));
    c->hoehe = 1 + std::max(h(c->kind[0]), h(c->kind[1]));
    return c;
}

// Restores the balance at k after one of its subtrees grew by one level;
// gives the new root of the subtree.
Varmap::knoten *Varmap::knoten::balanciere(knoten *k)
{
    for (int seite = 0; seite < 2; ++seite) {
        knoten *c = k->kind[seite];
        if (c != nullptr && h(c) - h(k->kind[1 - seite]) > 1) {
            knoten *innen = c->kind[1 - seite];
            if (innen != nullptr && h(innen) > h(c->kind[seite]))
                k->kind[seite] = hebe(c, 1 - seite);
            return hebe(k, seite);
        }
    }
    k->hoehe = 1 + std::max(h(k->kind[0]), h(k->kind[1]));
    return k;
}

// Puts neu where the search s ended and rebalances the nodes above it, up to
// the first whose height stays as it was.
void Varmap::knoten::einhaengen(const stelle &s, knoten *neu)
{
    *s.weg[s.tiefe - 1] = neu;
    for (int i = s.tiefe - 2; i >= 0; --i) {
        knoten **link = s.weg[i];
        int vorher = (*link)->hoehe;
        *link = balanciere(*link);
        if ((*link)->hoehe == vorher)
            break;
    }
}

namespace {

void freigeben(Varmap::elem_t *e)
{
    e->~elem_t();
    std::free(e);
}

} // namespace

Varmap::Varmap() : in{}, baum{}, bloecke(nullptr), puffer(nullptr)
{
}

Varmap::~Varmap()
{
    for (elem_t *head : in) {
        while (head != nullptr) {
            elem_t *next = head->nxt;
            freigeben(head);
            head = next;
        }
    }
    while (bloecke != nullptr) {
        knotenblock *davor = bloecke->davor;
        std::free(bloecke);
        bloecke = davor;
    }
    while (puffer != nullptr) {
        puffer_t *davor = puffer->davor;
        std::free(puffer->daten);
        std::free(puffer);
        puffer = davor;
    }
}

bool Varmap::uebernimm(char *daten)
{
    auto *p = static_cast<puffer_t *>(std::malloc(sizeof(puffer_t)));
    if (p == nullptr)
        return false;
    *p = puffer_t{daten, puffer};
    puffer = p;
    return true;
}

// The bucket depends on the first and the last byte only, each taken as a
// signed value.  The empty name and negative sums still land in 0..24.
int Varmap::hash(const char *s)
{
    if (*s == '\0')
        return 0;
    int first = static_cast<signed char>(s[0]);
    int last = static_cast<signed char>(s[std::strlen(s) - 1]);
    int rest = (first + last) % VARMAPSIZE;
    return rest < 0 ? rest + VARMAPSIZE : rest;
}

// neu() makes the entry for a new name (null when memory ran out);
// ersetze(entry) stores the value in an existing one.
template <class Neu, class Ersetze> int Varmap::einfuegen(const char *name, Neu neu, Ersetze ersetze)
{
    int b = hash(name);
    knoten::stelle s;
    elem_t *gleich = knoten::suche(&baum[b], name, s);
    if (gleich != nullptr)
        return ersetze(gleich);

    // Everything is allocated before the chain or the index changes.
    knoten *k = knotenblock::frei(bloecke);
    elem_t *e = k != nullptr ? neu() : nullptr;
    if (e == nullptr)
        return -1;
    elem_t **link = s.vorgaenger != nullptr ? &s.vorgaenger->nxt : &in[b];
    e->nxt = *link;
    *link = e;
    ++bloecke->belegt;
    knoten::einhaengen(s, new (k) knoten{e, {nullptr, nullptr}, 1});
    return 1;
}

int Varmap::insert(const char *name, const char *value)
{
    // malloc and placement new rather than operator new: the library then
    // needs nothing of the C++ runtime's exception support, which a
    // statically linked program would otherwise set up on every start.
    auto neu = [name, value]() -> elem_t * {
        void *platz = std::malloc(sizeof(elem_t));
        if (platz == nullptr)
            return nullptr;
        elem_t *e = new (platz) elem_t(name, value);
        if (!e->ok()) {
            freigeben(e);
            return nullptr;
        }
        return e;
    };
    return einfuegen(name, neu, [value](elem_t *e) { return e->replace(value); });
}

int Varmap::insert_ohne_kopie(char *name, char *value)
{
    auto neu = [name, value]() -> elem_t * {
        void *platz = std::malloc(sizeof(elem_t));
        return platz != nullptr ? new (platz) elem_t(name, value, elem_t::geliehen{}) : nullptr;
    };
    return einfuegen(name, neu, [value](elem_t *e) {
        e->leihe(value);
        return 0;
    });
}

const char *Varmap::operator[](const char *name) const
{
    const elem_t *e = knoten::finde(baum[hash(name)], name);
    return e != nullptr ? e->val : nullptr;
}
