#include "pruefling.h"
#include "anfrageansicht.h"
#include "hinweise.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

using namespace vokt::intern;

namespace {

// The pieces in which a search reads the body.
constexpr std::size_t SUCHSTUECK = std::size_t{1} << 20;

} // namespace

// n bytes of the body from ab, into puffer; false when they cannot be
// read (the file ended early, or reading failed).
bool Pruefling::lesen(std::uint64_t ab, char *puffer, std::size_t n)
{
    if (fd_ < 0) {
        std::string_view im = a_.inhalt();
        if (ab + n > im.size())
            return false;
        std::memcpy(puffer, im.data() + ab, n);
        return true;
    }
    for (std::size_t k = 0; k < n;) {
        ssize_t r = pread(fd_, puffer + k, n - k, static_cast<off_t>(a_.inhalt_ab() + ab + k));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0) {
            lesefehler_ = r == 0 ? ENODATA : errno;
            return false;
        }
        k += static_cast<std::size_t>(r);
    }
    return true;
}

std::string_view Pruefling::anfang(std::size_t n)
{
    auto soll = static_cast<std::size_t>(
        std::min<std::uint64_t>({a_.inhaltlaenge(), n, std::uint64_t{PRUEFINHALT_HOECHSTENS}}));
    if (inhalt_.size() < soll) {
        std::size_t alt = inhalt_.size();
        inhalt_.resize(soll);
        if (!lesen(alt, inhalt_.data() + alt, soll - alt))
            inhalt_.resize(alt);
    }
    return std::string_view(inhalt_).substr(0, std::min(soll, inhalt_.size()));
}

namespace {

bool findet(std::string_view text, std::string_view muster)
{
    return memmem(text.data(), text.size(), muster.data(), muster.size()) != nullptr;
}

} // namespace

bool Pruefling::enthaelt(std::string_view muster)
{
    if (muster.empty())
        return true;
    if (fd_ < 0)
        return findet(a_.inhalt(), muster);
    if (inhalt_.size() == a_.inhaltlaenge() || a_.inhaltlaenge() <= SUCHSTUECK)
        return findet(anfang(SUCHSTUECK), muster);
    // Piece by piece; the last muster.size() - 1 bytes of a piece stay in
    // front of the next, so that a match across the seam is found.
    std::string puffer(SUCHSTUECK + muster.size(), '\0');
    std::size_t behalten = 0;
    for (std::uint64_t ab = 0, laenge = a_.inhaltlaenge(); ab < laenge;) {
        auto n = static_cast<std::size_t>(std::min<std::uint64_t>(laenge - ab, SUCHSTUECK));
        if (!lesen(ab, puffer.data() + behalten, n))
            return false;
        std::size_t voll = behalten + n;
        if (findet(std::string_view(puffer.data(), voll), muster))
            return true;
        behalten = std::min(voll, muster.size() - 1);
        std::memmove(puffer.data(), puffer.data() + voll - behalten, behalten);
        ab += n;
    }
    return false;
}

const Formpaare &Pruefling::paare()
{
    if (!paare_) {
        paare_ = formpaare(a_.wert("QUERY_STRING").value_or(""));
        if (ist_urlencoded(a_.wert("CONTENT_TYPE").value_or(""))) {
            Formpaare rumpf = formpaare(anfang());
            paare_->insert(paare_->end(), rumpf.begin(), rumpf.end());
        }
    }
    return *paare_;
}

const std::vector<std::string> &Pruefling::hinweise()
{
    if (!hinweise_)
        hinweise_ = ::hinweise(a_, anfang(PRAEFIX_HOECHSTENS));
    return *hinweise_;
}
