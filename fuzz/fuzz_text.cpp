// Fuzz target: the bounded text helpers and the path helpers.
//
// Input: four size bytes, then two strings separated by a NUL.  Every
// helper runs on them with buffers of exactly the size it is told, so any
// write past the end is caught by AddressSanitizer, and each result is
// compared with a plain std::string model of the rule it follows.
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_util.h"
#include "platform/platform.h"
#include "text/text.h"

namespace {

constexpr size_t MAX_RESULT = TEXT_PATH_SIZE - 1; /* path results hold 511 */

// A heap buffer of exactly n bytes, filled with a canary byte.
struct Buffer {
    char *p;
    explicit Buffer(size_t n) : p((char *)malloc(n ? n : 1)) { memset(p, 'Z', n ? n : 1); }
    ~Buffer() { free(p); }
};

std::string cut(const std::string &s, size_t n) { return s.size() > n ? s.substr(0, n) : s; }

// ---- copying and appending ----

void check_copy(const std::string &a, int size)
{
    Buffer b(size);
    char *r = text_copy(b.p, a.c_str(), size);
    fz::check(r == b.p, "text_copy returns its destination");
    fz::check(std::string(b.p) == cut(a, size - 1), "text_copy keeps size - 1 bytes", fz::show(a));

    Buffer untouched(1);
    text_copy(untouched.p, nullptr, 1);
    text_copy(untouched.p, a.c_str(), 0); /* no room at all: nothing written */
    text_copy(untouched.p, a.c_str(), -size);
    fz::check(untouched.p[0] == 'Z', "text_copy writes nothing without room or source");
}

void check_append(const std::string &a, const std::string &b, int size)
{
    Buffer buf(size);
    text_copy(buf.p, b.c_str(), size);
    std::string before = buf.p;
    char *r = text_append(buf.p, a.c_str(), size);
    fz::check(r == buf.p, "text_append returns its destination");
    fz::check(std::string(buf.p) == cut(before + a, size - 1), "text_append fills to size - 1",
              fz::show(before) + " + " + fz::show(a));
    text_append(buf.p, nullptr, size);
    text_append(nullptr, a.c_str(), size);
}

void check_copy_n(const std::string &a, int n)
{
    Buffer buf(n + 1);
    char *end = text_copy_n(buf.p, a.c_str(), n);
    std::string want = cut(a, n);
    fz::check(std::string(buf.p) == want, "text_copy_n copies at most n", fz::show(a));
    fz::check(end == buf.p + want.size(), "text_copy_n returns the end of the copy");
    fz::check(buf.p[n] == '\0', "text_copy_n ends the buffer at n");
    fz::check(text_copy_n(buf.p, nullptr, n) == buf.p && buf.p[0] == '\0', "text_copy_n null source");
    fz::check(text_copy_n(nullptr, a.c_str(), n) == nullptr, "text_copy_n null destination");
}

// ---- comparing ----

void check_compare(const std::string &a, const std::string &b)
{
    int r = text_compare(a.c_str(), b.c_str());
    int want = strcmp(a.c_str(), b.c_str());
    fz::check((r == 0) == (want == 0), "text_compare equality", fz::show(a) + " " + fz::show(b));
    if (a.c_str()[0] != b.c_str()[0]) /* a terminator counts as a first byte too */
        fz::check(r == (int)(signed char)a.c_str()[0] - (int)(signed char)b.c_str()[0], "text_compare first byte");
    else if (want != 0)
        fz::check((r < 0) == (want < 0), "text_compare order");
    fz::check(text_compare(nullptr, b.c_str()) == 1 && text_compare(a.c_str(), nullptr) == 1, "text_compare null");

    std::string la = a, lb = b;
    for (char &c : la) c = (char)tolower((unsigned char)c);
    for (char &c : lb) c = (char)tolower((unsigned char)c);
    int nc = text_compare_nocase(a.c_str(), b.c_str());
    fz::check((nc == 0) == (la == lb), "text_compare_nocase equality", fz::show(a) + " " + fz::show(b));
    fz::check((text_compare_nocase(b.c_str(), a.c_str()) == 0) == (nc == 0), "text_compare_nocase symmetric");

    std::string low = a;
    fz::check(text_lower(&low[0]) == &low[0] && low == la, "text_lower");
    fz::check(text_lower(nullptr) == nullptr, "text_lower null");
}

// ---- paths ----

bool kept(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           (c != '\0' && strchr("._*-#:\\@%", c) != nullptr);
}

std::string model_clean(const std::string &name)
{
    std::string out;
    for (char c : cut(name, MAX_RESULT)) {
        if (c == ' ')
            out += '_';
        else if (kept(c))
            out += c;
    }
    return out;
}

bool ends_bs(const std::string &s) { return !s.empty() && s.back() == '\\'; }

std::string model_join(const std::string &dir, const std::string &name)
{
    std::string clean = model_clean(name);
    if (dir.empty()) return clean;
    std::string d = cut(dir, MAX_RESULT);
    if (name.empty()) return cut(ends_bs(d) ? d : d + "\\", MAX_RESULT);
    if (ends_bs(d) && !clean.empty() && clean[0] == '\\')
        d.pop_back();
    else if (!ends_bs(d) && (clean.empty() || clean[0] != '\\'))
        d = cut(d + "\\", MAX_RESULT);
    return cut(d + clean, MAX_RESULT);
}

std::string model_strip(const std::string &name)
{
    std::string s = cut(name, MAX_RESULT);
    size_t dot = s.rfind('.');
    if (dot == std::string::npos) return s;
    if (dot + 1 < s.size()) return s.substr(0, dot);
    if (dot >= 2 && s[dot - 1] != '.') return s.substr(0, dot);
    return s;
}

std::string model_base(const std::string &path)
{
    size_t slash = path.rfind('\\');
    return cut(slash == std::string::npos ? path : path.substr(slash + 1), MAX_RESULT);
}

void check_paths(const std::string &a, const std::string &b)
{
    fz::check(clean_name(a.c_str()) == model_clean(a), "clean_name", fz::show(a));
    fz::check(clean_name(nullptr)[0] == '\0', "clean_name null");

    std::string joined = path_join(a.c_str(), b.c_str());
    fz::check(joined == model_join(a, b), "path_join", fz::show(a) + " + " + fz::show(b));
    fz::check(std::string(path_join(nullptr, b.c_str())) == model_clean(b), "path_join without dir");
    fz::check(path_join(nullptr, nullptr)[0] == '\0', "path_join nothing");

    fz::check(strip_ext(a.c_str()) == model_strip(a), "strip_ext", fz::show(a));
    fz::check(base_name(a.c_str(), 0) == model_base(a), "base_name", fz::show(a));
    fz::check(base_name(a.c_str(), 1) == model_strip(model_base(a)), "base_name stripped", fz::show(a));
    fz::check(base_name(nullptr, 1)[0] == '\0' && strip_ext(nullptr)[0] == '\0', "null names");

    const char *dp = dir_part(a.c_str());
    std::string c = cut(a, MAX_RESULT);
    size_t slash = c.rfind('\\');
    if (slash == std::string::npos)
        fz::check(dp == nullptr, "dir_part without backslash", fz::show(a));
    else
        fz::check(dp && std::string(dp) == c.substr(0, slash + 1), "dir_part", fz::show(a));
    fz::check(dir_part(nullptr) == nullptr, "dir_part null");
}

void check_join_raw(const std::string &a, const std::string &b, int size)
{
    Buffer buf(size);
    int ok = path_join_raw(buf.p, size, a.c_str(), b.c_str());
    std::string d = a;
    if (!d.empty() && !ends_bs(d) && (b.empty() || b[0] != '\\'))
        d += '\\';
    else if (ends_bs(d) && !b.empty() && b[0] == '\\')
        d.pop_back();
    std::string want = d + b;
    if (want.size() + 1 <= (size_t)size) {
        fz::check(ok == 1 && want == buf.p, "path_join_raw", fz::show(a) + " + " + fz::show(b));
    } else {
        fz::check(ok == 0 && buf.p[0] == '\0', "path_join_raw refuses what does not fit");
    }
    fz::check(path_join_raw(nullptr, size, a.c_str(), b.c_str()) == 0, "path_join_raw null buffer");
}

// The platform's path mapping: whatever it is given, it stays in its buffer.
void check_native(const std::string &a, int size)
{
    Buffer buf(size);
    if (plat_native_path(a.c_str(), buf.p, size))
        fz::check(strlen(buf.p) < (size_t)size, "plat_native_path stays in its buffer", fz::show(a));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fz::enter_scratch();
    fz::Input in(data, size);
    int s1 = 1 + in.byte() * 3; /* 1 .. 766: around 512 */
    int s2 = 1 + (in.byte() | in.byte() << 8) % 1100;
    int s3 = in.byte();
    std::string a = in.part();
    std::string b = in.rest();
    b = b.substr(0, strlen(b.c_str())); /* C strings end at the first NUL */

    check_copy(a, s1);
    check_append(a, b, s2);
    check_copy_n(a, s1 - 1);
    check_compare(a, b);
    check_paths(a, b);
    check_join_raw(a, b, s2);
    if (s3 & 1) check_native(a, s3 + 2);
    return 0;
}
