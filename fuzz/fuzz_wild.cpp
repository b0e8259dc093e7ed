// Fuzz target: the wildcard matcher, pattern and text.
//
// Input: the pattern, a NUL, the text.  The matcher's answer is compared
// with a memoised model that tries every split of every star, so an abort
// (-1) that gives up on a text that could still match is a finding, and so
// is any run that takes more than polynomial time (libFuzzer's timeout).
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "files/wild.h"
#include "fuzz_util.h"

namespace {

// One "[...]" class starting at pattern[i]: whether c is selected, and the
// index just past the class (the pattern's end when it is never closed).
bool model_class(const std::string &p, size_t i, char c, size_t *next)
{
    size_t j = i + 1;
    bool invert = false, found = false;
    if (j < p.size() && p[j] == '^') {
        invert = true;
        j++;
    }
    for (bool first = true; j < p.size() && (p[j] != ']' || first); first = false) {
        if (j + 2 < p.size() && p[j + 1] == '-' && p[j + 2] != ']') {
            signed char lo = (signed char)p[j], hi = (signed char)p[j + 2], sc = (signed char)c;
            found = found || (sc >= lo && sc <= hi);
            j += 3;
        } else {
            found = found || p[j] == c;
            j++;
        }
    }
    *next = j < p.size() ? j + 1 : p.size();
    return found != invert;
}

struct Model {
    const std::string &p, &t;
    std::vector<signed char> memo; /* -1 unknown, 0, 1 */
    Model(const std::string &pat, const std::string &text)
        : p(pat), t(text), memo((pat.size() + 1) * (text.size() + 1), -1)
    {}

    bool match(size_t i, size_t j)
    {
        signed char &m = memo[i * (t.size() + 1) + j];
        if (m < 0) m = compute(i, j) ? 1 : 0;
        return m == 1;
    }

    bool compute(size_t i, size_t j)
    {
        if (i == p.size()) return j == t.size();
        if (p[i] == '*') {
            size_t k = i;
            while (k < p.size() && p[k] == '*') k++;
            for (size_t s = j; s <= t.size(); s++)
                if (match(k, s)) return true;
            return false;
        }
        if (j == t.size()) return false;
        size_t next = i + 1;
        switch (p[i]) {
        case '\\':
            if (i + 1 >= p.size() || t[j] != p[i + 1]) return false; /* a trailing "\" takes nothing */
            next = i + 2;
            break;
        case '?': break;
        case '[':
            if (!model_class(p, i, t[j], &next)) return false;
            break;
        default:
            if (t[j] != p[i]) return false;
        }
        return match(next, j + 1);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fz::Input in(data, size);
    std::string pattern = in.part();
    std::string text = in.rest();
    text = text.substr(0, strlen(text.c_str()));

    int core = wild_match_core(text.c_str(), pattern.c_str());
    int whole = wild_match(pattern.c_str(), text.c_str());
    fz::check(core >= -1 && core <= 1, "wild_match_core gives 1, 0 or -1");
    fz::check(whole == 0 || whole == 1, "wild_match gives 1 or 0");

    bool want = Model(pattern, text).match(0, 0);
    fz::check((whole == 1) == want, "wild_match agrees with the model",
              "pattern " + fz::show(pattern) + " text " + fz::show(text) +
                  (want ? " should match" : " should not match"));
    if (pattern != "*") fz::check((core == 1) == want, "wild_match_core agrees with wild_match");

    fz::check(wild_match(nullptr, text.c_str()) == 0, "null pattern");
    fz::check(wild_match_core(nullptr, pattern.c_str()) == 0, "null text");
    fz::check(wild_match_core(text.c_str(), nullptr) == 0, "null pattern in the core");
    return 0;
}
