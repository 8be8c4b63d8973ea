#include "engine/Wildcard.h"

#include <bitset>
#include <cstdint>
#include <vector>

namespace {

// Result of matching (the rest of) a pattern against (the rest of) a text.
enum MatchResult : int8_t {
    Matched = 1,
    PatternEnded = 2,  // the pattern ended before the text
    TextEnded = 3,     // the text ended before the pattern, or a star run failed
    NotInSet = 4,
    CharDiffers = 5,
    Malformed = 6,
};

using CharSet = std::bitset<256>;

// One element of a parsed pattern.
struct Item {
    enum Kind { One, AnyOne, Star, Broken } kind;
    CharSet accepts;        // One: the characters it takes; Star: those it may consume;
                            // Broken: none
    MatchResult failure;    // One: the result for a refused character; Broken: its result
};

std::string LowerAscii(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return s;
}

// Reads the set whose '<' is at pat[p] and moves p past its '>'. False when
// the set is empty, a range lacks its upper end, or the '>' is missing.
bool ReadSet(const std::string& pat, size_t& p, CharSet& set)
{
    ++p;
    const bool negated = p < pat.size() && (pat[p] == '!' || pat[p] == '^');
    if (negated)
        ++p;
    if (p >= pat.size() || pat[p] == '>')
        return false;
    set.reset();
    while (p < pat.size() && pat[p] != '>') {
        const unsigned lo = static_cast<unsigned char>(pat[p]);
        unsigned hi = lo;
        if (p + 1 < pat.size() && pat[p + 1] == '-') {
            if (p + 2 >= pat.size() || pat[p + 2] == '>')
                return false;
            hi = static_cast<unsigned char>(pat[p + 2]);
            p += 3;
        } else {
            ++p;
        }
        for (unsigned c = lo; c <= hi; ++c)  // a reversed range adds nothing
            set.set(c);
    }
    if (p >= pat.size())
        return false;
    ++p;
    if (negated)
        set.flip();
    return true;
}

// A malformed set ends the item list with a Broken item: matching never gets
// past it, so what follows is irrelevant.
std::vector<Item> Parse(const std::string& pat)
{
    std::vector<Item> items;
    for (size_t p = 0; p < pat.size();) {
        Item item{Item::One, {}, CharDiffers};
        bool wellFormed = true;
        switch (pat[p]) {
        case '*':
            item.kind = Item::Star;
            if (++p < pat.size() && pat[p] == '<')
                wellFormed = ReadSet(pat, p, item.accepts);
            else
                item.accepts.set();
            break;
        case '<':
            item.failure = NotInSet;
            wellFormed = ReadSet(pat, p, item.accepts);
            break;
        case '?':
            item.kind = Item::AnyOne;
            item.accepts.set();
            ++p;
            break;
        default:
            item.accepts.set(static_cast<unsigned char>(pat[p++]));
        }
        if (!wellFormed) {
            items.push_back({Item::Broken, {}, Malformed});
            break;
        }
        items.push_back(item);
    }
    return items;
}

// Dynamic programming over the items from the last one back. A row holds, for
// every text position t, the result of matching the items from the current
// one on against text[t..]; each item's row needs only the next item's row,
// and a star the row of the first item after the run of '*' and '?' that
// follows it. Time is items x text length whatever the pattern, so no pattern
// can make matching take exponential time.
MatchResult Match(const std::string& pattern, const std::string& text)
{
    const std::string pat = LowerAscii(pattern);
    const std::string s = LowerAscii(text);
    const std::vector<Item> items = Parse(pat);
    const size_t n = s.size();
    auto at = [&s](size_t t) { return static_cast<unsigned char>(s[t]); };

    std::vector<MatchResult> next(n + 1, PatternEnded);
    next[n] = Matched;
    std::vector<MatchResult> row(n + 1);
    // The run is the '?' and unrestricted '*' that follow the current item.
    std::vector<MatchResult> afterRun = next;  // row of the first item after the run
    size_t runAnyOnes = 0;                     // '?' in the run
    bool runHasStar = false;                   // an unrestricted '*' in the run

    for (size_t i = items.size(); i-- > 0;) {
        const Item& item = items[i];
        // With the text used up, only a pattern ending in one bare '*' still matches.
        row[n] = i + 1 == items.size() && item.kind == Item::Star && pat.back() == '*'
                     ? Matched
                     : TextEnded;
        if (item.kind == Item::Star) {
            // The star consumes text[t..u) from its set, the run's '?' take the
            // next characters, and the items after the run must match from
            // there. An unrestricted '*' in the run can consume anything
            // itself, so then this star's set no longer restricts anything.
            bool found = runAnyOnes == 0 && afterRun[n] == Matched;
            for (size_t t = n; t-- > 0;) {
                const bool restMatches = t + runAnyOnes <= n && afterRun[t + runAnyOnes] == Matched;
                found = restMatches || (found && (runHasStar || item.accepts.test(at(t))));
                row[t] = found ? Matched : TextEnded;
            }
        } else {
            for (size_t t = 0; t < n; ++t)
                row[t] = item.accepts.test(at(t)) ? next[t + 1] : item.failure;
        }

        if (item.kind == Item::Star && item.accepts.all()) {
            runHasStar = true;
        } else if (item.kind == Item::AnyOne) {
            ++runAnyOnes;
        } else {
            runHasStar = false;
            runAnyOnes = 0;
            afterRun = row;
        }
        next.swap(row);
    }
    return next[0];
}

}  // namespace

bool MatchesPattern(const std::string& pattern, const std::string& text)
{
    return Match(pattern, text) == Matched;
}

bool IsWild(const std::string& text)
{
    return text.find_first_of("*?<>|") != std::string::npos;
}
