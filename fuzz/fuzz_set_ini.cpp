// Fuzz target: the configuration rewrite.
//
// Input: a byte of yes/no flags, a byte choosing the executable's name,
// then the answers (text up to a NUL each: NEWSHOST, DOMAIN, TEMPLATES,
// CACHE, QLIMG, POPHOST, the five yes/no answers, the executable's name),
// then the existing file's bytes.  After the rewrite the new file must
// hold every line the rewrite does not manage (host sections and the
// continuation lines of unmanaged settings included), whole, unchanged and
// in order; each managed key outside a host section must appear as often
// as its answer says, with the answer as its value, its continuation lines
// gone with it; no temporary file may be left behind.  A log with a small size limit is open meanwhile.
#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "config/set_ini.h"
#include "fuzz_util.h"
#include "table/table.h"
#include "log/log.h"

namespace {

constexpr size_t FIRST_PIECE = TEXT_PATH_SIZE - 1; /* a key counts only within a line's first 511 bytes */

struct Managed {
    const char *key;
    int question;
    char kind; /* v value, y yes/no, u user POP, a admin POP */
};
const Managed MANAGED[] = {
    {"templates ", Q_TEMPLATES, 'v'},
    {"newshost ", Q_NEWSHOST, 'v'},
    {"cache_dir ", Q_CACHE, 'v'},
    {"domain ", Q_DOMAIN, 'v'},
    {"qlimg ", Q_QLIMG, 'v'},
    {"authent_pop ", Q_AUTH_USER_POP, 'u'},
    {"authent_imap ", Q_AUTH_USER_POP, 'u'},
    {"host_authent ", Q_AUTH_ADMIN_POP, 'a'},
    {"authent_host ", Q_AUTH_ADMIN_POP, 'a'},
    {"authent_port ", Q_AUTH_ADMIN_POP, 'a'},
    {"authent_news ", Q_AUTH_NEWS, 'y'},
    {"authent_local ", Q_AUTHENT_LOCAL, 'y'},
    {"authent_cookie ", Q_AUTHENT_COOKIE, 'y'},
    {"authent_local_create ", Q_AUTHENT_LOCAL_CREATE, 'y'},
    {"force_login ", Q_FORCE_LOGIN, 'y'},
};
constexpr int N_MANAGED = sizeof MANAGED / sizeof MANAGED[0];

// The managed row a line belongs to (by the key after its leading white
// space, within the line's first piece), or -1.
int classify(const std::string &line)
{
    size_t lead = 0;
    while (lead < line.size() && isspace((unsigned char)line[lead])) lead++;
    for (int k = 0; k < N_MANAGED; k++) {
        size_t klen = strlen(MANAGED[k].key);
        if (lead + klen <= FIRST_PIECE && line.compare(lead, klen, MANAGED[k].key) == 0) return k;
    }
    return -1;
}

bool blank(char c) { return c == ' ' || c == '\t'; }

// The reader's rule: a value ending in " /" or "\n" (after its trailing
// blanks, at least two characters) continues on the next line.
bool model_continues(const char *l, bool continuation)
{
    while (blank(*l)) l++;
    if (!continuation) {
        while (*l && !blank(*l) && *l != '\r' && *l != '\n') l++;
        while (blank(*l)) l++;
    }
    std::string v = l;
    while (!v.empty() && (blank(v.back()) || v.back() == '\r' || v.back() == '\n')) v.pop_back();
    return v.size() >= 2 && (v.compare(v.size() - 2, 2, " /") == 0 || v.compare(v.size() - 2, 2, "\\n") == 0);
}

bool word_is(const char *l, const char *word)
{
    while (blank(*l)) l++;
    size_t n = strlen(word);
    for (size_t i = 0; i < n; i++)
        if (tolower((unsigned char)l[i]) != word[i]) return false;
    return l[n] == '\0' || blank(l[n]) || l[n] == '\r' || l[n] == '\n';
}

// A file as the rewrite sees it: its lines, each either kept whole (line
// end cut) or a managed setting; continuation lines of a managed setting
// disappear with it.  For the input, the lines the rewrite adds to close a
// setting or section left open at the end are added too.
struct Model {
    std::vector<std::string> kept;
    std::vector<std::pair<int, std::string>> managed;
};

Model model(const std::string &file, bool input)
{
    Model m;
    bool section = false, continuing = false, dropping = false;
    for (size_t pos = 0; pos < file.size();) {
        size_t nl = file.find('\n', pos);
        size_t end = nl == std::string::npos ? file.size() : nl;
        std::string line = file.substr(pos, end - pos);
        pos = end + 1;
        while (!line.empty() && line.back() == '\r') line.pop_back();
        const char *l = line.c_str();  // what is examined ends at a NUL
        if (continuing) {
            continuing = model_continues(l, true);
            if (!dropping) m.kept.push_back(line);
            continue;
        }
        dropping = false;
        if (!*l || *l == '#' || *l == '\r') {
            m.kept.push_back(line);
            continue;
        }
        continuing = model_continues(l, false);
        if (word_is(l, "vhost")) section = true;
        int k = section ? -1 : classify(l);
        if (section && word_is(l, "vend")) section = false;
        if (k < 0) {
            m.kept.push_back(line);
        } else {
            m.managed.push_back({k, line});
            dropping = true;
        }
    }
    if (input && continuing && !dropping) m.kept.push_back("");
    if (input && section) m.kept.push_back("vend");
    return m;
}

// A typed answer is one line, and never ends in a continuation marker
// (the questions refuse such answers): cut anywhere, it still cannot.
std::string one_line_answer(std::string a)
{
    for (size_t i = 0; i < a.size(); i++) {
        if (a[i] == '\n') a[i] = ' ';
        if (i > 0 && a[i - 1] == ' ' && a[i] == '/') a[i] = '|';
        if (i > 0 && a[i - 1] == '\\' && a[i] == 'n') a[i] = 'N';
    }
    return a;
}

std::string without_line_end(std::string s)
{
    while (!s.empty() && (s.back() == '\r' || s.back() == '\n')) s.pop_back();
    return s;
}

void fill_table(question_table *t, fz::Input &in, uint8_t flags, uint8_t name_choice)
{
    table_init(t);
    const int answered[] = {Q_NEWSHOST,       Q_DOMAIN,      Q_TEMPLATES, Q_CACHE,         Q_QLIMG,
                            Q_POPHOST,        Q_FORCE_LOGIN, Q_AUTH_NEWS, Q_AUTHENT_LOCAL, Q_AUTHENT_LOCAL_CREATE,
                            Q_AUTHENT_COOKIE, Q_QUILLOR_CGI};
    for (int q : answered) {
        std::string a = one_line_answer(in.part());
        if (q != Q_QUILLOR_CGI || name_choice == 1) text_copy(t->q[q].default_answer, a.c_str(), TEXT_PATH_SIZE);
    }
    if (name_choice == 2) text_copy(t->q[Q_QUILLOR_CGI].default_answer, "Quillor.cgi", TEXT_PATH_SIZE);
    const int yes_no[] = {Q_AUTH_USER_POP, Q_AUTH_ADMIN_POP,       Q_FORCE_LOGIN,   Q_AUTH_NEWS,
                          Q_AUTHENT_LOCAL, Q_AUTHENT_LOCAL_CREATE, Q_AUTHENT_COOKIE};
    for (int i = 0; i < 7; i++) t->q[yes_no[i]].flag = (flags >> i) & 1;
}

std::string config_name(const question_table *t)
{
    std::string cgi = t->q[Q_QUILLOR_CGI].default_answer;
    size_t ext = cgi.find(".exe");
    if (ext == std::string::npos) ext = cgi.find(".cgi");
    if (ext == std::string::npos) return "";
    return cgi.substr(0, ext) + ".ini";
}

// The value a managed line carries: its answer cut so that key, space and
// value hold 510 characters (the POP host whole), or the fixed words of the
// groups and of an appended yes/no setting.
void check_value(const question_table *t, const Managed &m, const std::string &line, bool appended)
{
    size_t lead = 0;
    while (lead < line.size() && isspace((unsigned char)line[lead])) lead++;
    std::string key = m.key;
    std::string value = without_line_end(line.substr(lead + key.size()));
    size_t room = 510 - key.size();
    std::string answer = without_line_end(t->q[m.question].default_answer);
    if (answer.size() > room) answer = without_line_end(answer.substr(0, room));
    std::string pop = t->q[Q_POPHOST].default_answer; /* written whole */
    bool ok;
    switch (m.kind) {
    case 'v': ok = value == answer; break;
    case 'y': ok = value == answer || (appended && value == (t->q[m.question].flag == 1 ? "true" : "false")); break;
    case 'u': ok = value == "true"; break;
    default:
        ok = key == "authent_host " ? value == without_line_end(pop)
                                    : value == (key == "authent_port " ? "110" : "true");
    }
    fz::check(ok, "a managed line carries its answer", fz::show(line));
}

void check_output(const question_table *t, const std::string &before, const std::string &after)
{
    fz::check(after.empty() || after.back() == '\n', "the new file ends with a line end");
    Model in = model(before, true), out = model(after, false);
    int count_in[N_MANAGED] = {}, count_out[N_MANAGED] = {};
    for (auto &m : in.managed) count_in[m.first]++;
    for (auto &m : out.managed) count_out[m.first]++;
    for (auto &m : out.managed) check_value(t, MANAGED[m.first], m.second, count_in[m.first] == 0);
    fz::check(in.kept == out.kept, "unmanaged lines come out whole, unchanged and in order");
    for (int k = 0; k < N_MANAGED; k++) {
        const Managed &m = MANAGED[k];
        int yes = t->q[m.question].flag == 1;
        int want = 0;
        if (m.kind == 'v') want = count_in[k] > 0 ? count_in[k] : 1; /* a missing one is appended */
        if (m.kind == 'y') want = count_in[k] == 0 ? 1 : (yes ? count_in[k] : 0);
        if (m.kind == 'u' || m.kind == 'a') want = yes ? 1 : 0; /* a group is written once */
        fz::check(count_out[k] == want, "managed key appears as its answer says", m.key);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fz::enter_scratch();
    fz::clear_scratch();
    fz::Input in(data, size);
    uint8_t flags = in.byte();
    uint8_t name_choice = in.byte() % 8;
    question_table t;
    fill_table(&t, in, flags, name_choice);
    std::string before = in.rest();

    std::string name = config_name(&t);
    bool plain_name = !name.empty() && name.find_first_of("\\/:") == std::string::npos && name.size() < 200 &&
                      strlen(name.c_str()) == name.size();
    if (plain_name) fz::write_file(name, before);

    log_record lg;
    log_init(&lg);
    log_open(&lg, "", "fuzz.log");
    log_set_limits(&lg, 4000, 1, 0);
    log_set_level(&lg, LOG_LEVEL_DEBUG);
    log_make_current(&lg);
    int r = set_ini(nullptr, &t);
    log_make_current(nullptr);
    log_close(&lg);

    if (plain_name) {
        std::string after;
        fz::check(r == 1, "set_ini rewrites a readable file", fz::show(name));
        fz::check(fz::read_file(name, after), "the configuration file is still there");
        fz::check(!fz::file_exists("temp" + name), "no temporary file is left");
        check_output(&t, before, after);
    }
    fz::check(set_ini(nullptr, nullptr) == 0, "set_ini with no table");
    return 0;
}
