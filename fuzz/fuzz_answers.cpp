// Fuzz target: the answers-file reader and the record of a run.
//
// Input: the bytes of an answers file (NUL bytes included).  The reader's
// verdict is compared with a model of the file's grammar that works on the
// bytes in memory: a refused file gives one message naming the file and
// keeps nothing; an accepted one supplies exactly the model's values and
// job.  The accepted answers are then written as a record, which must read
// back to the same answers.
#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_util.h"
#include "questions/answers.h"
#include "table/table.h"

namespace {

constexpr size_t LINE_MAX_WITH_END = 4094; /* a line and its LF fit the reader's 4096-byte buffer */

struct Answers {
    bool given[Q_COUNT] = {};
    std::string value[Q_COUNT];
    int job = JOB_NONE;
};

std::string trim(const std::string &s)
{
    size_t a = 0, b = s.size();
    while (a < b && isspace((unsigned char)s[a])) a++;
    while (b > a && isspace((unsigned char)s[b - 1])) b--;
    return s.substr(a, b - a);
}

bool same_nocase(const std::string &a, const char *b)
{
    if (a.size() != strlen(b)) return false;
    for (size_t i = 0; i < a.size(); i++)
        if (tolower((unsigned char)a[i]) != tolower((unsigned char)b[i])) return false;
    return true;
}

// One meaningful line "TAG value" into the model; false when it is a fault.
bool take(Answers &m, const std::string &text)
{
    size_t cut = 0;
    while (cut < text.size() && !isspace((unsigned char)text[cut])) cut++;
    std::string tag = text.substr(0, cut), value = trim(text.substr(cut));
    if (same_nocase(tag, "JOB")) {
        if (m.job != JOB_NONE) return false;
        const char *jobs[] = {"install", "update", "remove"};
        for (int j = 0; j < 3; j++)
            if (same_nocase(value, jobs[j])) m.job = JOB_INSTALL + j;
        return m.job != JOB_NONE;
    }
    for (int i = 0; i < Q_COUNT; i++) {
        if (!same_nocase(tag, question_tag(i))) continue;
        if (m.given[i] || value.size() > (size_t)ANSWER_VALUE_MAX) return false;
        if (i == Q_CHANGE && (value[0] == 'y' || value[0] == 'Y')) return false;
        m.given[i] = true;
        m.value[i] = value;
        return true;
    }
    return false;
}

// The model's reading of a whole file; false when the file is refused.
bool model(const std::string &file, Answers &m)
{
    if (file.size() >= 2 && ((file[0] == '\xFF' && file[1] == '\xFE') || (file[0] == '\xFE' && file[1] == '\xFF')))
        return false; /* UTF-16 */
    size_t pos = 0;
    for (int line = 1; pos < file.size(); line++) {
        size_t end = file.find('\n', pos);
        bool ended = end != std::string::npos;
        std::string raw = file.substr(pos, (ended ? end : file.size()) - pos);
        pos = ended ? end + 1 : file.size();
        if (raw.find('\0') != std::string::npos) return false;
        if (raw.size() > LINE_MAX_WITH_END + (ended ? 0 : 1)) return false;
        if (line == 1 && raw.compare(0, 3, "\xEF\xBB\xBF") == 0) raw.erase(0, 3);
        std::string text = trim(raw);
        if (text.empty() || text[0] == '#') continue;
        if (!take(m, text)) return false;
    }
    return true;
}

// What the reader supplies for every question, and its job.
Answers supplied()
{
    Answers got;
    for (int i = 0; i < Q_COUNT; i++) {
        question_rec r{};
        got.given[i] = answers_supply(i, &r) == 1;
        if (got.given[i]) got.value[i] = r.answer;
    }
    got.job = answers_job();
    return got;
}

void check_same(const Answers &want, const Answers &got, const char *what)
{
    fz::check(want.job == got.job, what, "job " + std::to_string(got.job) + " want " + std::to_string(want.job));
    for (int i = 0; i < Q_COUNT; i++)
        fz::check(want.given[i] == got.given[i] && want.value[i] == got.value[i], what,
                  std::string(question_tag(i)) + " got " + fz::show(got.value[i]) + " want " + fz::show(want.value[i]));
}

// The accepted answers written as a record and read back.
void round_trip(const Answers &got)
{
    for (int i = 0; i < Q_COUNT; i++) {
        if (!got.given[i]) continue;
        question_rec r{};
        text_copy(r.default_answer, got.value[i].c_str(), TEXT_PATH_SIZE);
        answers_note(i, &r);
    }
    fz::check(answers_write_record("rec.txt", got.job, "1.0") == 1, "a record is written");
    answers_clear();
    char why[TEXT_LINE_SIZE] = "";
    fz::check(answers_load("rec.txt", why, sizeof why) == 1, "a record reads back", why);
    check_same(got, supplied(), "a record reads back to the same answers");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fz::enter_scratch();
    fz::clear_scratch();
    answers_clear();
    fz::Input in(data, size);
    std::string file = in.rest();
    fz::write_file("a.txt", file);

    Answers want;
    bool accept = model(file, want);
    char why[TEXT_LINE_SIZE] = "";
    int loaded = answers_load("a.txt", why, sizeof why);
    fz::check(loaded == (accept ? 1 : 0), "the reader's verdict agrees with the model", why);
    if (!loaded) {
        std::string message = why;
        fz::check(message.rfind("a.txt:", 0) == 0 && message.find('\n') == std::string::npos && message.size() > 7,
                  "a refusal is one line naming the file", fz::show(message));
        fz::check(!answers_unattended() && answers_job() == JOB_NONE, "a refused file keeps nothing");
        return 0;
    }
    Answers got = supplied();
    check_same(want, got, "the supplied answers are the model's");
    round_trip(got);
    answers_clear();
    return 0;
}
