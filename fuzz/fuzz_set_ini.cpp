// Fuzz target: the configuration rewrite.
//
// Input: a byte of yes/no flags, a byte choosing the executable's name,
// then the answers (text up to a NUL each: NEWSHOST, DOMAIN, TEMPLATES,
// CACHE, QLIMG, POPHOST, the five yes/no answers, the executable's name),
// then the existing file's bytes.  After the rewrite the new file must
// hold every line the rewrite does not manage, unchanged and in order;
// each managed key must appear as often as its answer says, with the
// answer as its value; no temporary file may be left behind.  A log with a small size limit is open meanwhile.
#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "config/set_ini.h"
#include "fuzz_util.h"
#include "installer/table.h"
#include "log/log.h"

namespace {

constexpr size_t PIECE = TEXT_PATH_SIZE - 1; /* the rewrite reads 511 bytes at a time */

struct Managed {
    const char *key;
    int question;
    char kind; /* v value, y yes/no, u user POP, a admin POP */
};
const Managed MANAGED[] = {
    {"templates ", Q_TEMPLATES, 'v'},  {"newshost ", Q_NEWSHOST, 'v'},
    {"cache_dir ", Q_CACHE, 'v'},      {"domain ", Q_DOMAIN, 'v'},
    {"qlimg ", Q_QLIMG, 'v'},          {"authent_pop ", Q_AUTH_USER_POP, 'u'},
    {"authent_imap ", Q_AUTH_USER_POP, 'u'}, {"host_authent ", Q_AUTH_ADMIN_POP, 'a'},
    {"authent_host ", Q_AUTH_ADMIN_POP, 'a'}, {"authent_port ", Q_AUTH_ADMIN_POP, 'a'},
    {"authent_news ", Q_AUTH_NEWS, 'y'}, {"authent_local ", Q_AUTHENT_LOCAL, 'y'},
    {"authent_cookie ", Q_AUTHENT_COOKIE, 'y'}, {"authent_local_create ", Q_AUTHENT_LOCAL_CREATE, 'y'},
    {"force_login ", Q_FORCE_LOGIN, 'y'},
};
constexpr int N_MANAGED = sizeof MANAGED / sizeof MANAGED[0];

// The managed row a line belongs to (by the key after its leading white
// space), or -1.
int classify(const std::string &line)
{
    size_t lead = 0;
    while (lead < line.size() && isspace((unsigned char)line[lead])) lead++;
    for (int k = 0; k < N_MANAGED; k++)
        if (line.compare(lead, strlen(MANAGED[k].key), MANAGED[k].key) == 0) return k;
    return -1;
}

// The existing file's lines as the rewrite reads them: 511-byte pieces,
// each a C string, the line end after a full piece belonging to it.
std::vector<std::string> input_lines(const std::string &file)
{
    std::vector<std::string> out;
    size_t pos = 0;
    bool full = false;
    while (pos < file.size()) {
        size_t end = pos;
        while (end < file.size() && end - pos < PIECE && file[end] != '\n') end++;
        if (end < file.size() && end - pos < PIECE) end++;
        std::string piece = file.substr(pos, end - pos);
        pos = end;
        piece = piece.substr(0, strlen(piece.c_str()));
        bool line_end_only = !piece.empty() && piece.find_first_not_of("\r\n") == std::string::npos;
        if (!(full && line_end_only)) out.push_back(piece);
        full = piece.size() == PIECE && piece.back() != '\n';
    }
    return out;
}

std::string without_line_end(std::string s)
{
    while (!s.empty() && (s.back() == '\r' || s.back() == '\n')) s.pop_back();
    return s;
}

void fill_table(question_table *t, fz::Input &in, uint8_t flags, uint8_t name_choice)
{
    table_init(t);
    const int answered[] = {Q_NEWSHOST, Q_DOMAIN, Q_TEMPLATES, Q_CACHE, Q_QLIMG, Q_POPHOST,
                            Q_FORCE_LOGIN, Q_AUTH_NEWS, Q_AUTHENT_LOCAL, Q_AUTHENT_LOCAL_CREATE,
                            Q_AUTHENT_COOKIE, Q_QUILLOR_CGI};
    for (int q : answered) {
        std::string a = in.part();
        for (char &c : a)
            if (c == '\n') c = ' '; /* a typed answer is one line */
        if (q != Q_QUILLOR_CGI || name_choice == 1) text_copy(t->q[q].default_answer, a.c_str(), TEXT_PATH_SIZE);
    }
    if (name_choice == 2) text_copy(t->q[Q_QUILLOR_CGI].default_answer, "Quillor.cgi", TEXT_PATH_SIZE);
    const int yes_no[] = {Q_AUTH_USER_POP, Q_AUTH_ADMIN_POP, Q_FORCE_LOGIN, Q_AUTH_NEWS,
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
// value hold 510 characters, or the fixed words of the groups and of an
// appended yes/no setting.
void check_value(const question_table *t, const Managed &m, const std::string &line, bool appended)
{
    size_t lead = 0;
    while (lead < line.size() && isspace((unsigned char)line[lead])) lead++;
    std::string key = m.key;
    std::string value = without_line_end(line.substr(lead + key.size()));
    size_t room = 510 - key.size();
    std::string answer = without_line_end(t->q[m.question].default_answer);
    if (answer.size() > room) answer = without_line_end(answer.substr(0, room));
    std::string pop = t->q[Q_POPHOST].default_answer;
    if (pop.size() > room) pop = pop.substr(0, room);
    bool ok;
    switch (m.kind) {
    case 'v': ok = value == answer; break;
    case 'y': ok = value == answer || (appended && value == (t->q[m.question].flag == 1 ? "true" : "false")); break;
    case 'u': ok = value == "true"; break;
    default:
        ok = key == "authent_host " ? value == without_line_end(pop) : value == (key == "authent_port " ? "110" : "true");
    }
    fz::check(ok, "a managed line carries its answer", fz::show(line));
}

void check_output(const question_table *t, const std::string &before, const std::string &after)
{
    fz::check(after.empty() || after.back() == '\n', "the new file ends with a line end");
    std::vector<std::string> out = fz::split(after.substr(0, after.empty() ? 0 : after.size() - 1), "\n");
    if (after.empty()) out.clear();
    std::vector<std::string> in = input_lines(before);

    std::vector<std::string> kept_in, kept_out;
    int count_in[N_MANAGED] = {}, count_out[N_MANAGED] = {};
    for (const std::string &l : in) {
        int k = classify(l);
        if (k < 0) kept_in.push_back(without_line_end(l));
        else count_in[k]++;
    }
    for (const std::string &l : out) {
        int k = classify(l);
        if (k < 0) kept_out.push_back(l);
        else count_out[k]++;
    }
    for (const std::string &l : out) {
        int k = classify(l);
        if (k >= 0) check_value(t, MANAGED[k], l, count_in[k] == 0);
    }
    fz::check(kept_in == kept_out, "unmanaged lines come out unchanged and in order");
    for (int k = 0; k < N_MANAGED; k++) {
        const Managed &m = MANAGED[k];
        int yes = t->q[m.question].flag == 1;
        int want = 0;
        if (m.kind == 'v') want = count_in[k] > 0 ? count_in[k] : 1; /* a missing one is appended */
        if (m.kind == 'y') want = count_in[k] == 0 ? 1 : (yes ? count_in[k] : 0);
        if (m.kind == 'u' || m.kind == 'a') want = yes ? 1 : 0;      /* a group is written once */
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
    bool plain_name = !name.empty() && name.find_first_of("\\/:") == std::string::npos &&
                      name.size() < 200 && strlen(name.c_str()) == name.size();
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
