// --redact of vokt show, har and curl: a copy of a record whose secrets
// are masked, every byte of their values as '*', so that their lengths
// stay: the values of Authorization, Proxy-Authorization and Cookie (each
// cookie's value, its name kept), and of the headers (any entry) and form
// fields (query, urlencoded or multipart body) whose names hold token,
// secret, password, key or signature, in any case.
#ifndef VOKT_SCHWAERZEN_H
#define VOKT_SCHWAERZEN_H

#include "intern/aufzeichnung.h"

#include <string>
#include <string_view>
#include <vector>

// Whether a header's, entry's or form field's name says that its value is
// a secret.
bool ist_geheim(std::string_view name);

// The entries with their secrets masked.
std::vector<std::string> eintraege_schwaerzen(const std::vector<std::string> &eintraege);

// The form fields with secret names in the body of record a (its start
// when it is cut), masked in place.
void inhalt_schwaerzen(const vokt::intern::Aufzeichnung &a, std::string &inhalt);

// The masked copy of record a into b: its entries masked, its body as
// long as a's, of which *inhalt (a's body or its start) is masked in
// place and the rest left unread.  b's file, to close; -1 after a message.
int schwaerzen(const vokt::intern::Aufzeichnung &a, std::string *inhalt, vokt::intern::Aufzeichnung &b);

#endif
