// The dump file: where it lies, how it is opened without trusting whatever
// already stands at that path, and how the record is written into it with
// every write checked.
#ifndef VOKT_DUMPDATEI_H
#define VOKT_DUMPDATEI_H

#include "verlaufsgrenzen.h"

#include <cstddef>
#include <fcntl.h>

namespace vokt::intern {

// "<home>/cgidump" when home is known and euid is not nobody, else
// "/tmp/cgidump<euid>"; at full length, as a text the caller frees.
char *dumppfad(int euid, const char *home, int nobody);

// The last six 'X' of "name.XXXXXX" filled with letters and digits, as
// mkstemp fills them, and the file made in the folder ordner (never
// replacing one, never following a link), mode 0600; -1 with errno when it
// cannot be.
int neue_datei(int ordner, char *vorlage);

// Where the record of a dump path goes.  The path itself, or the target of
// a link at the path when root owns the link and the folder that holds it,
// and nobody but root may write that folder (no write bit for its group or
// others, as the kernel's protected_symlinks trusts a link in a folder
// that no one else can change): an administrator's way to put the record
// into a folder of the server's user.  The link is checked and read
// through one descriptor, and the target's folder is opened relative to
// the link's folder, so a link swapped in meanwhile is never followed; the
// target itself is not followed.  On the common path (no link at the
// path) this takes one lstat.  vokt.cgi and the desk programs both find
// the record (and the history beside it) with it.
class Dumpziel {
public:
    Dumpziel() = default;
    ~Dumpziel() { freigeben(); }
    Dumpziel(const Dumpziel &) = delete;
    Dumpziel &operator=(const Dumpziel &) = delete;

    // The place for the dump path; false when memory ran out.
    bool finden(const char *pfad);
    void freigeben();

    int ordner() const { return ordner_; }     // AT_FDCWD, or the target's folder
    const char *name() const { return name_; } // the file in ordner()
    const char *pfad() const { return pfad_; } // the whole path, for messages
    bool gefolgt() const { return ordner_ != AT_FDCWD; }

private:
    bool folgen(const char *pfad);

    int ordner_ = AT_FDCWD;
    char *name_ = nullptr; // pfad_ itself unless a link was followed
    char *pfad_ = nullptr;
};

// One record being written, in the format of aufzeichnung.h.  Entries are
// gathered in a small buffer; body bytes go to the file at once, so that
// what arrived is on disk even when the process is killed.  The first
// failed write (or close) of the dump, and of its history entry, is handed
// to the caller's melder; later writes are dropped and the record counts
// as incomplete.
class Dumpdatei {
public:
    enum Oeffnung {
        OFFEN,      // the record is being written
        VERWEIGERT, // nothing at the path can be used: fatal for the request
        BELEGT,     // a prepared file is locked by another request: no record
    };

    // Told the file (the dump, or its history entry) and the error number
    // of a write that failed: once for each file.
    using Melder = void (*)(const char *datei, int fehlernummer);

    explicit Dumpdatei(Melder melder) : melder_(melder) {}
    ~Dumpdatei();
    Dumpdatei(const Dumpdatei &) = delete;
    Dumpdatei &operator=(const Dumpdatei &) = delete;

    // A fresh file, mode 0600, made beside the path and renamed over it: a
    // link, FIFO or another file planted at the path is replaced, never
    // followed.  The one link followed is root's, in a folder that nobody
    // but root can write (see Dumpziel): the record then goes to its
    // target (once).
    // When the directory refuses a fresh file, a regular file of the
    // effective user prepared at the path, with no second link, is used
    // instead: opened without following links, locked against other
    // requests (waiting at most two seconds), emptied.  A directory that is
    // full is a reported write failure: OFFEN without a file.  When a
    // directory "<pfad>.d" of the effective user exists, the record is kept
    // there too (see verlauf.h), as a second link or else as a copy; an
    // entry that cannot be made or written is reported.  The entry is
    // locked while it is written, so that no request prunes it; when it is
    // gone all the same before it is closed, that is reported too.
    Oeffnung oeffne(const char *pfad);
    bool offen() const { return fd_ >= 0; }

    // The history's setting as oeffne read it (KEINE without a history),
    // and the path of the file the record goes to, for the caller's report.
    Einstellung verlaufseinstellung() const { return einstellung_; }
    const char *pfad() const { return ziel_.pfad() != nullptr ? ziel_.pfad() : ""; }

    void zeile(const char *text);               // text (a line feed in it as "\n\t") and a line feed
    void laenge(int inhaltlang);                // '*', the number, a line feed
    void roh(const char *daten, std::size_t n); // body bytes, written at once
    void leeren();                              // the gathered entries to the file
    void schliesse();                           // written out and closed

    // False once a write or the close failed (of the dump or of its
    // history entry), or when no record could be made because the prepared
    // file was busy.
    bool vollstaendig() const { return !fehler_ && !verlauf_fehler_; }
    void unvollstaendig() { fehler_ = true; }

private:
    void an(const char *daten, std::size_t n);
    static void senke(void *dump, const char *daten, std::size_t n);
    void schreibe(const char *daten, std::size_t n);
    void melde_fehler(int fehlernummer);
    void melde_verlauf(int fehlernummer);
    Oeffnung vorbereitet_oeffnen(int &fd);
    void kopie_anlegen();
    void kopiere(const char *daten, std::size_t n);
    void verlauf_abschliessen();

    Melder melder_;
    int fd_ = -1;
    int verlauf_ = -1; // the history directory, when there is one
    int kopie_ = -1;   // the history's copy of a record in a prepared file
    char eintrag_[64] = "";
    Dumpziel ziel_;
    bool eingetragen_ = false; // the history's entry was made and is ours
    Verlaufsgrenzen grenzen_;
    Einstellung einstellung_ = Einstellung::KEINE;
    unsigned long long geschrieben_ = 0; // the record's bytes so far
    bool fehler_ = false;
    bool verlauf_fehler_ = false;
    std::size_t voll_ = 0;
    char puffer_[16 * 1024];
};

} // namespace vokt::intern

#endif
