// Quoting for a POSIX shell: text that a command line prints so that the
// shell reads it back as exactly one word, whatever bytes it holds.
#ifndef VOKT_SHELLWORT_H
#define VOKT_SHELLWORT_H

#include <string>
#include <string_view>

// The text in single quotes, every ' in it written as '\'' : inside single
// quotes a shell gives every byte its literal meaning ($, `, \, ", line
// feeds, bytes over 127 alike), so no value can run a command or split the
// word.  A zero byte cannot be part of a word; the text must not hold one.
std::string shellwort(std::string_view text);

#endif
