#include "varmap.h"

#include <cstdlib>
#include <cstring>
#include <new>

Varmap::elem_t::elem_t(const char *n, const char *v) : name(strdup(n)), val(strdup(v)), nxt(nullptr)
{
}

Varmap::elem_t::~elem_t()
{
    std::free(name);
    std::free(val);
}

int Varmap::elem_t::replace(const char *value)
{
    char *copy = strdup(value);
    if (copy == nullptr)
        return -1;
    std::free(val);
    val = copy;
    return 0;
}

namespace {

void freigeben(Varmap::elem_t *e)
{
    e->~elem_t();
    std::free(e);
}

} // namespace

Varmap::Varmap() : in{}
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

// Names are ordered byte-wise with every byte taken as unsigned: strcmp.
int Varmap::insert(const char *name, const char *value)
{
    elem_t **link = &in[hash(name)];
    int order = 1;
    while (*link != nullptr && (order = std::strcmp((*link)->name, name)) < 0)
        link = &(*link)->nxt;
    if (*link != nullptr && order == 0)
        return (*link)->replace(value);

    // malloc and placement new rather than operator new: the library then
    // needs nothing of the C++ runtime's exception support, which a
    // statically linked program would otherwise set up on every start.
    void *platz = std::malloc(sizeof(elem_t));
    if (platz == nullptr)
        return -1;
    elem_t *neu = new (platz) elem_t(name, value);
    if (!neu->ok()) {
        freigeben(neu);
        return -1;
    }
    neu->nxt = *link;
    *link = neu;
    return 1;
}

const char *Varmap::operator[](const char *name) const
{
    const elem_t *e = in[hash(name)];
    int order = 1;
    while (e != nullptr && (order = std::strcmp(e->name, name)) < 0)
        e = e->nxt;
    return e != nullptr && order == 0 ? e->val : nullptr;
}
