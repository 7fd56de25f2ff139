// The words before PROGRAM, as vokt-replay and vokt replay and curl take
// them: options, the record file, and "--".
#ifndef VOKT_WOERTER_H
#define VOKT_WOERTER_H

#include <functional>

// Options go to option (which may take the word after its own, moving i
// on); the first word that is no option, or the word after "--", is the
// record file (*datei); the next word that is no option starts PROGRAM.
// The index where PROGRAM starts (argc when there is none), or -1 when an
// option failed.  Scanning stops early once *halt is true.
int vor_programm(int argc, char **argv, const char *&datei, const std::function<bool(int &)> &option,
                 const bool *halt = nullptr);

#endif
