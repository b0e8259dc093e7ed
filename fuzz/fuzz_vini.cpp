// Fuzz target: the configuration loader.
//
// Input: an option byte, the section keyword and the host name (each up to
// a NUL), then the configuration file; the text after each line holding
// "@@@@" becomes a value file (v1.txt, v2.txt, ...) that a "|v1.txt" value
// can name.  The options choose a definition table with every flag, the
// keyword and host (none, "vhost"/"alpha", or the input's), SERVER_NAME and
// a second load.  Without a table, every key's value is compared with a
// model of the grammar (lines, comments, continuations, host sections,
// value files).  Afterwards every key the file mentions is looked up, set
// and removed, and the store is checked: one record per undeclared key,
// each with exactly one non-empty value.
#include <cctype>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "config/vini.h"
#include "fuzz_util.h"
#include "platform/platform.h"
#include "text/text.h"

namespace {

const ini_definition TABLE[] = {
    {"templates", "\\quillor\\", 0},
    {"multi", nullptr, INI_MULTI},
    {"fromfile", nullptr, INI_FROM_FILE | INI_MULTI},
    {"onefile", nullptr, INI_FROM_FILE},
    {"blank_ok", "x", INI_BLANK_OK},
    {"blank_clears", "y", INI_BLANK_CLEARS | INI_MULTI},
    {"load_only", "z", INI_LOAD_ONLY},
    {"secret", nullptr, INI_SECRET},
    {"loop_a", nullptr, 0},
    {"loop_b", nullptr, 0},
    {nullptr, nullptr, 0},
};
const ini_fallback FALLBACKS[] = {
    {"loop_a", "loop_b"}, {"loop_b", "loop_a"}, {"multi", "templates"}, {"secret", "nosuch"}, {nullptr, nullptr},
};

// The callbacks format their message as the log would, so a bad format or
// an unterminated argument shows up here.
int report(const char *fmt, ...)
{
    char buf[1024];
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    return n;
}

std::vector<std::string> keys_of(const std::string &file)
{
    std::vector<std::string> keys;
    for (const std::string &line : fz::split(file, "\n")) {
        char *key = vini_first_word(line.c_str());
        if (key && keys.size() < 64) keys.push_back(key);
        free(key);
    }
    return keys;
}

// The undeclared store: one record per key (case-blind), one non-empty value each.
void check_store(vini *v)
{
    int n = static_count(&v->undeclared);
    for (int i = 0; i < n; i++) {
        vini_setting *a = (vini_setting *)v->undeclared.items[i];
        fz::check(a && a->name, "undeclared record with a name");
        fz::check(a->values.count == 1, "an undeclared key holds exactly one value", fz::show(a->name));
        const char *value = (const char *)a->values.items[0];
        fz::check(value && value[0], "undeclared values are not empty", fz::show(a->name));
        for (int j = 0; j < i; j++) {
            vini_setting *b = (vini_setting *)v->undeclared.items[j];
            fz::check(text_compare_nocase(a->name, b->name) != 0, "one record per key", fz::show(a->name));
        }
    }
    int declared = static_count(&v->settings.nodes);
    for (int i = 0; i < declared; i++) {
        ini_node *node = (ini_node *)v->settings.nodes.items[i];
        if (!(TABLE[i].flags & INI_MULTI))
            fz::check(node->values.count <= 1, "a single-valued setting holds one value", TABLE[i].name);
    }
}

void look_up(vini *v, const std::vector<std::string> &keys)
{
    for (const std::string &k : keys) {
        const char *a = vini_get(v, k.c_str(), 0);
        const char *b = vini_get(v, k.c_str(), 1);
        if (a) fz::check(b == a, "following fallbacks keeps a key's own value", fz::show(k));
        if (b) (void)strlen(b);
    }
    for (const ini_definition *d = TABLE; d->name; d++) vini_get(v, d->name, 1);
}

// ---- a model of the grammar (loads without a definition table) ----

bool blank(char c) { return c == ' ' || c == '\t'; }

std::string lower(std::string s)
{
    for (char &c : s) c = (char)tolower((unsigned char)c);
    return s;
}

// Lines as fgets hands them over with the given buffer size, each read as
// a C string.
std::vector<std::string> lines_of(const std::string &file, size_t chars)
{
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos < file.size()) {
        size_t end = pos;
        while (end < file.size() && end - pos < chars && file[end] != '\n') end++;
        if (end < file.size() && end - pos < chars) end++;
        std::string piece = file.substr(pos, end - pos);
        out.push_back(piece.substr(0, strlen(piece.c_str())));
        pos = end;
    }
    return out;
}

std::string trim_end(const std::string &s)
{
    size_t n = s.size();
    while (n > 0 && (blank(s[n - 1]) || s[n - 1] == '\r' || s[n - 1] == '\n')) n--;
    return s.substr(0, n);
}

size_t skip_blanks_at(const std::string &s, size_t i)
{
    while (i < s.size() && blank(s[i])) i++;
    return i;
}

struct GrammarModel {
    std::map<std::string, std::string> values; /* lower-cased key -> value */
    const char *keyword = nullptr;
    std::string host;
    bool has_host = false, from_env = false, active = true;

    void set(const std::string &key, const std::string &value)
    {
        if (!value.empty()) values[lower(key)] = value;
    }

    void store(const std::string &key, const std::string &value)
    {
        if (value.size() >= 2 && value[0] == '|') {
            FILE *f = plat_fopen(value.c_str() + 1, "rb");
            if (f) {
                std::string content;
                char buf[4096];
                for (size_t n; (n = plat_fread(buf, 1, sizeof buf, f)) > 0;) content.append(buf, n);
                plat_fclose(f);
                for (std::string line : lines_of(content, VINI_VALUE_LINE)) {
                    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
                    set(key, line);
                }
                return;
            }
        }
        set(key, value);
    }

    void entry(const std::string &key, const std::string &value)
    {
        if (keyword) {
            if (from_env && lower(key) == "vhost_match") {
                const char *env = getenv(value.c_str());
                has_host = env != nullptr;
                host = env ? env : "";
                return;
            }
            if (lower(key) == lower(keyword)) {
                active = has_host && lower(host) == lower(value);
                return;
            }
            if (lower(key) == "vend") {
                active = true;
                return;
            }
        }
        if (active) store(key, value);
    }

    // Adds one line's text to the value; returns the marker it ends in.
    static int gather(std::string &value, int &pending, const std::string &text)
    {
        std::string t = trim_end(text);
        int marker = 0;
        if (t.size() >= 2 && t.compare(t.size() - 2, 2, " /") == 0)
            marker = 1;
        else if (t.size() >= 2 && t.compare(t.size() - 2, 2, "\\n") == 0)
            marker = 2;
        if (marker) t.resize(t.size() - 2);
        if (pending == 2) value += "\n";
        value += t;
        pending = marker;
        return marker;
    }

    void load(const std::string &file)
    {
        std::string key, value;
        bool open = false;
        int pending = 0;
        for (const std::string &line : lines_of(file, VINI_LINE_MAX)) {
            if (open) {
                std::string text = line.substr(skip_blanks_at(line, 0));
                if (trim_end(text).empty() || !gather(value, pending, text)) {
                    entry(key, value);
                    open = false;
                }
                continue;
            }
            if (line[0] == '#' || line[0] == '\r' || line[0] == '\n') continue;
            size_t k = skip_blanks_at(line, 0), e = k;
            while (e < line.size() && !blank(line[e]) && line[e] != '\r' && line[e] != '\n') e++;
            key = line.substr(k, e - k);
            while (k < line.size() && !blank(line[k])) k++;
            value.clear();
            pending = 0;
            if (gather(value, pending, line.substr(skip_blanks_at(line, k))))
                open = true;
            else
                entry(key, value);
        }
        if (open) {
            if (pending == 1) value += " /";
            if (pending == 2) value += "\n  ";
            entry(key, value);
        }
        if (keyword) set(keyword, has_host ? host : "");
    }
};

void check_model(vini *v, const std::string &file, const char *keyword, const char *host)
{
    GrammarModel m;
    m.keyword = keyword;
    m.from_env = host == nullptr;
    const char *h = host ? host : getenv("SERVER_NAME");
    m.has_host = h != nullptr;
    m.host = h ? h : "";
    m.load(file);
    std::vector<std::string> keys = keys_of(file);
    if (keyword) keys.push_back(keyword);
    for (const std::string &k : keys) {
        const char *got = vini_get(v, k.c_str(), 0);
        auto want = m.values.find(lower(k));
        if (want == m.values.end())
            fz::check(got == nullptr, "a key the model does not hold", fz::show(k) + " = " + fz::show(got ? got : ""));
        else
            fz::check(got && want->second == got, "a value agrees with the grammar model",
                      fz::show(k) + "\ngot  " + (got ? fz::show(got) : "null") + "\nwant " + fz::show(want->second));
    }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fz::enter_scratch();
    fz::clear_scratch();
    fz::Input in(data, size);
    uint8_t opt = in.byte();
    std::string keyword_in = in.part();
    std::string host_in = in.part();
    std::vector<std::string> files = fz::split(in.rest(), "\n@@@@\n");

    fz::write_file("f.ini", files[0]);
    for (size_t i = 1; i < files.size() && i < 4; i++) fz::write_file("v" + std::to_string(i) + ".txt", files[i]);

    const char *keyword = nullptr, *host = nullptr;
    switch (opt >> 2 & 3) {
    case 1: keyword = "vhost"; break;
    case 2: keyword = keyword_in.c_str(); break;
    case 3: keyword = "VHOST"; break;
    }
    switch (opt >> 4 & 3) {
    case 1: host = "alpha"; break;
    case 2: host = host_in.c_str(); break;
    case 3: host = ""; break;
    }
    if (opt & 0x40)
        setenv("SERVER_NAME", "alpha", 1);
    else
        unsetenv("SERVER_NAME");

    vini v;
    fz::check(vini_init(&v, report, report) == 1, "vini_init");
    if (opt & 1) fz::check(vini_set_table(&v, TABLE, FALLBACKS, opt & 2) == &v.settings, "vini_set_table");
    fz::check(vini_load(&v, nullptr, "f", keyword, host) == 1, "vini_load of a readable file");
    check_store(&v);
    if (!(opt & 1)) check_model(&v, files[0], keyword && keyword[0] ? keyword : nullptr, host);
    if (opt & 0x80) {
        fz::check(vini_load(&v, ".\\", "f.ini", keyword ? nullptr : "vhost", nullptr) == 1, "second load");
        check_store(&v);
    }

    std::vector<std::string> keys = keys_of(files[0]);
    look_up(&v, keys);
    for (size_t i = 0; i < keys.size(); i++) {
        const std::string &value = keys[(i * 7 + 3) % keys.size()];
        if (i % 3 == 0) vini_set(&v, keys[i].c_str(), value.c_str());
        if (i % 3 == 1) vini_remove(&v, keys[i].c_str());
        if (i % 3 == 2) vini_set(&v, keys[i].c_str(), vini_get(&v, keys[i].c_str(), 1)); /* its own value */
    }
    check_store(&v);
    look_up(&v, keys);

    fz::check(vini_load(&v, nullptr, "missing", nullptr, nullptr) == 0, "vini_load of a missing file");
    fz::check(vini_free(&v) == 1, "vini_free");
    fz::check(static_count(&v.undeclared) == 0, "vini_free empties the store");
    vini_free(&v);
    return 0;
}
