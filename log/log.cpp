/* The installer's log ("New-Log").
 *
 * Entries are appended as "dd hh:mm:ss [pid] Level: message".  They are
 * kept in the record and written when the buffer is full and at each
 * log_flush; every write and flush is checked, so a full disk is reported
 * at the latest at the end of the step.  An interruption writes the kept
 * entries before its own.  Above its size limit the file is rotated into
 * numbered generations.  A failure to open or write the file switches the
 * log off; it never stops the installer.
 */
#include "log/log.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/platform.h"
#include "text/text.h"

static log_record *current_log;

constexpr int HEADER_SIZE = 96;       /* "dd hh:mm:ss [pid] Debug: " with room to spare */
constexpr int GENERATION_SUFFIX = 16; /* ".log" made ".001" and the like, with room to spare */

static const char *const level_prefix[] = {"Error: ", "Info: ", "Debug: "};

/* Use before log_init is a programming error: say so and stop. */
static void check_marker(const log_record *lg)
{
    if (lg->marker != LOG_MAGIC) {
        perror("Error Using New-Log before Init\n");
        plat_exit(1);
    }
}

/* Opens the record's file for appending and takes its size.  0 on failure. */
static int open_file(log_record *lg)
{
    lg->file = plat_fopen(lg->file_name ? lg->file_name : "init.log", "a");
    if (!lg->file) {
        lg->level = -1; /* switched off, silently */
        return 0;
    }
    long long pos = plat_file_size(lg->file); /* through the system-call table, like every file call */
    lg->size = pos > 0 ? (int32_t)(pos > INT32_MAX ? INT32_MAX : pos) : 0;
    return 1;
}

/* ---- set-up ---- */

int log_init(log_record *lg)
{
    if (!lg) return 0;
    memset(lg, 0, sizeof *lg);
    lg->marker = LOG_MAGIC;
    lg->pid = plat_process_id();
    return 1;
}

int log_open(log_record *lg, const char *dir, const char *name)
{
    if (!lg) return 0;
    check_marker(lg);
    if (!name) return 0;
    log_flush(lg);
    if (lg->file) plat_fclose(lg->file);
    lg->file = nullptr;
    free(lg->file_name);
    char with_ext[TEXT_PATH_SIZE];
    if (!strchr(name, '.'))
        snprintf(with_ext, sizeof with_ext, "%s.log", name);
    else
        text_copy(with_ext, name, sizeof with_ext);
    lg->file_name = text_dup(path_join(dir, with_ext));
    if (!lg->file_name) lg->file_name = text_dup("init.log");
    return open_file(lg);
}

int log_set_limits(log_record *lg, int32_t size_limit, int32_t generations, int32_t echo)
{
    if (!lg) return 0;
    check_marker(lg);
    lg->size_limit = size_limit;
    lg->generations = generations;
    lg->echo = echo;
    return 1;
}

int log_set_level(log_record *lg, int32_t level)
{
    if (!lg) return 0;
    check_marker(lg);
    lg->level = level;
    return 1;
}

int log_make_current(log_record *lg)
{
    if (lg) check_marker(lg);
    current_log = lg;
    return lg ? 1 : 0;
}

log_record *log_current() { return current_log; }

static void note_console_lost();

int log_close(log_record *lg)
{
    if (!lg) return 0;
    check_marker(lg);
    if (lg == current_log) note_console_lost();
    log_flush(lg);
    if (lg->file) plat_fclose(lg->file);
    free(lg->file_name);
    lg->file = nullptr;
    lg->file_name = nullptr;
    return 1;
}

/* ---- writing ---- */

/* The local time of `now`.  localtime looks at the time-zone file again on
 * every call, a system call per entry when thousands of removed files are
 * logged; the answer only changes once a second. */
static time_t known_at = (time_t)-1;
static struct tm known;
static int have;

static const struct tm *local_time(time_t now)
{
    if (now != known_at) {
        const struct tm *t = localtime(&now);
        have = t != nullptr;
        if (t) known = *t;
        known_at = now;
    }
    return have ? &known : nullptr;
}

/* A write failed: close the file, say so once and switch the log off. */
static int write_failed(log_record *lg)
{
    plat_fclose(lg->file);
    lg->file = nullptr;
    lg->pending_size = 0;
    plat_out("Error printing to log file\n");
    lg->level = -1;
    return 0;
}

/* Writes n bytes to the file now: 1, or 0 (write_failed) when the write
 * or the flush failed, where a full disk shows. */
static int write_out(log_record *lg, const char *text, size_t n)
{
    if (plat_fwrite(text, 1, n, lg->file) == n && plat_fflush(lg->file) == 0) return 1;
    return write_failed(lg);
}

int log_flush(log_record *lg)
{
    if (!lg || !lg->file || lg->pending_size == 0) return 1;
    if (!write_out(lg, lg->pending, (size_t)lg->pending_size)) return 0;
    lg->pending_size = 0; /* only now: an interruption meanwhile writes them again, never loses them */
    return 1;
}

/* Keeps n bytes for the file, writing out what is kept first when they
 * would not fit.  0 when a write failed. */
static int keep(log_record *lg, const char *text, int n)
{
    if (lg->pending_size + n > LOG_BUFFER_SIZE && !log_flush(lg)) return 0;
    if (n > LOG_BUFFER_SIZE) return write_out(lg, text, (size_t)n);
    memcpy(lg->pending + lg->pending_size, text, (size_t)n);
    lg->pending_size += n;
    return 1;
}

/* Puts n with at least `width` digits at p; returns the end. */
static char *put_number(char *p, long n, int width)
{
    char digits[24];
    int k = 0;
    do {
        digits[k++] = (char)('0' + (n < 0 ? 0 : n % 10));
        n /= 10;
    } while (n > 0 && k < 20);
    while (k < width) digits[k++] = '0';
    while (k > 0) *p++ = digits[--k];
    return p;
}

static char *put_text(char *p, const char *s)
{
    while (*s) *p++ = *s++;
    return p;
}

/* One entry's heading, "dd hh:mm:ss [pid] ", at p. */
static char *put_heading(char *p, const struct tm &t, long pid)
{
    p = put_number(p, have ? t.tm_mday : 0, 2);
    p = put_number(put_text(p, " "), have ? t.tm_hour : 0, 2);
    p = put_number(put_text(p, ":"), have ? t.tm_min : 0, 2);
    p = put_number(put_text(p, ":"), have ? t.tm_sec : 0, 2);
    return put_text(put_number(put_text(p, " ["), pid, 1), "] ");
}

/* Keeps the time stamp, process tag and level prefix, made by hand as an
 * interruption makes them: no formatting call per entry.  Returns their
 * length, or -1 when a write failed. */
static int write_header(log_record *lg, int level, time_t now)
{
    char head[HEADER_SIZE];
    local_time(now);
    int n = (int)(put_text(put_heading(head, known, lg->pid), level_prefix[level]) - head);
    return keep(lg, head, n) ? n : -1;
}

int log_write(log_record *lg, int level, const char *text, int length)
{
    if (!lg || !text || length < 0) return 0;
    check_marker(lg);
    if (level < 0 || level > 2 || level > lg->level) return 0;
    time_t now = time(nullptr);
    if (lg->generations != 0 && lg->size_limit != 0 && lg->size > lg->size_limit) log_rotate(lg);
    if (!lg->file && !open_file(lg)) return 0;
    if (text[0] == '\n') local_time(now); /* the clock an interrupt's entry moves on from */
    if (text[0] != '\n') {
        int head = write_header(lg, level, now);
        if (head < 0) return 0;
        lg->size += head;
    }
    if (!keep(lg, text, length)) return 0;
    if (lg->echo) {
        if (text[0] == '\n')
            plat_printf("%.*s", length, text);
        else
            plat_printf("%s%.*s", level_prefix[level], length, text);
    }
    lg->size += length;
    return length;
}

int log_rotate(log_record *lg)
{
    if (!lg) return 1;
    check_marker(lg);
    if (lg->generations <= 0) return 1;
    log_flush(lg);
    if (lg->file) plat_fclose(lg->file);
    lg->file = nullptr;
    const char *name = lg->file_name ? lg->file_name : "init.log";
    char dir[TEXT_PATH_SIZE], stem[TEXT_PATH_SIZE], from[TEXT_PATH_SIZE + GENERATION_SUFFIX],
        to[TEXT_PATH_SIZE + GENERATION_SUFFIX];
    const char *d = dir_part(name);
    text_copy(dir, d ? d : "", sizeof dir);
    text_copy(stem, path_join(dir, base_name(name, BASE_STRIP_EXT)), sizeof stem);
    snprintf(to, sizeof to, "%s%d.log", stem, (int)lg->generations);
    plat_remove(to);
    for (int k = lg->generations; k >= 2; k--) {
        snprintf(from, sizeof from, "%s%d.log", stem, k - 1);
        snprintf(to, sizeof to, "%s%d.log", stem, k);
        plat_rename(from, to);
    }
    snprintf(from, sizeof from, "%s.log", stem);
    snprintf(to, sizeof to, "%s1.log", stem);
    plat_rename(from, to);
    return 0;
}

/* ---- interruption ----
 *
 * An interrupt handler may call neither localtime nor stdio: the entry is
 * made by hand, its clock moved on from the last entry's local time. */

static int days_in_month(const struct tm *t)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int y = t->tm_year + 1900;
    int leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return t->tm_mon == 1 && leap ? 29 : days[(unsigned)t->tm_mon % 12];
}

static struct tm time_since_known(time_t now)
{
    struct tm t = known;
    long s = have && now > known_at ? (long)(now - known_at) : 0;
    long sec = t.tm_sec + 60L * t.tm_min + 3600L * t.tm_hour + s;
    for (long days = sec / 86400; days > 0; days--)
        if (++t.tm_mday > days_in_month(&t)) {
            t.tm_mday = 1;
            t.tm_mon = (t.tm_mon + 1) % 12;
        }
    sec %= 86400;
    t.tm_hour = (int)(sec / 3600);
    t.tm_min = (int)(sec / 60 % 60);
    t.tm_sec = (int)(sec % 60);
    return t;
}

/* What an interruption put back, on the console. */
static void say_put_back(int put_back)
{
    char line[64];
    char *p = put_text(line, "\nRollback: ");
    p = put_text(put_number(p, put_back, 1), " changes of this run were put back\n");
    if (put_back > 0) plat_write_close_raw(stdout, line, (size_t)(p - line));
}

void log_interrupted(int put_back)
{
    say_put_back(put_back);
    log_record *lg = current_log;
    if (!lg || !lg->file || lg->level < LOG_LEVEL_INFO) return;
    char line[LOG_BUFFER_SIZE + 2 * HEADER_SIZE]; /* the kept entries, then these */
    struct tm t = time_since_known(time(nullptr));
    int kept = lg->pending_size;
    memcpy(line, lg->pending, (size_t)kept);
    char *p = line + kept;
    if (put_back > 0)
        p = put_text(put_number(put_text(put_heading(p, t, lg->pid), "Info: Rollback: "), put_back, 1),
                     " changes of this run were put back\n");
    p = put_text(put_heading(p, t, lg->pid), "Info: interrupted\n");
    plat_write_close_raw(lg->file, line, (size_t)(p - line));
    lg->file = nullptr; /* closed: the process ends now */
    lg->pending_size = 0;
}

/* A console that went away (a closed pipe) is logged once, before the
 * next entry: the run goes on without it. */
static void note_console_lost()
{
    int err = 0;
    if (current_log && plat_console_lost(&err))
        log_info("console output lost {%d=%s}, the run goes on without it", err, strerror(err));
}

/* The escape of one control character: "\n", "\t", "\x1b" and the like. */
static int control_escape(char *out, unsigned char c)
{
    const char *named = c == '\n' ? "\\n" : c == '\r' ? "\\r" : c == '\t' ? "\\t" : nullptr;
    if (named) return snprintf(out, 5, "%s", named);
    return snprintf(out, 5, "\\x%02x", c);
}

static int is_control(unsigned char c) { return c < 0x20 || c == 0x7f; }

/* Copies text into out (size bytes, always ended) with every control
 * character spelt as an escape, so that a name read from the disk never
 * starts a log line of its own nor drives the terminal.  The message's own
 * line ends, those it starts with (the log's header) and the one it ends
 * with, stay as they are. */
static void escape_controls(char *out, int size, const char *text)
{
    int n = 0;
    const char *p = text, *end = text + strlen(text);
    if (end > p && end[-1] == '\n') end--;
    while (p < end && *p == '\n' && n < size - 1) out[n++] = *p++;
    for (; p < end && n < size - 1; p++) {
        if (!is_control((unsigned char)*p)) {
            out[n++] = *p;
            continue;
        }
        char esc[8];
        int len = control_escape(esc, (unsigned char)*p);
        if (n + len > size - 1) break; /* an escape is never cut in half */
        memcpy(out + n, esc, (size_t)len);
        n += len;
    }
    if (*end == '\n' && n < size - 1) out[n++] = '\n';
    out[n] = '\0';
}

/* Formats a message, ends it with one newline and writes it at `level`.
 * A message too long for the buffer is cut, keeping its newline. */
void log_escape(char *out, int size, const char *text) { escape_controls(out, size, text); }

static int log_formatted(int level, const char *fmt, va_list ap)
{
    if (!current_log || !fmt) return 0;
    note_console_lost();
    char raw[LOG_MSG_SIZE], buf[LOG_MSG_SIZE];
    if (vsnprintf(raw, sizeof raw, fmt, ap) < 0) return 0;
    escape_controls(buf, sizeof buf, raw);
    int n = (int)strlen(buf);
    if (n >= (int)sizeof buf - 1) {
        n = (int)sizeof buf - 1; /* no room for a newline: the last character gives way */
        buf[n - 1] = '\n';
    } else if (n == 0 || buf[n - 1] != '\n') {
        buf[n++] = '\n';
        buf[n] = '\0';
    }
    return log_write(current_log, level, buf, n);
}

int log_error(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    int r = log_formatted(LOG_LEVEL_ERROR, fmt, ap);
    va_end(ap);
    return r;
}

int log_info(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    int r = log_formatted(LOG_LEVEL_INFO, fmt, ap);
    va_end(ap);
    return r;
}

int log_debug(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    int r = log_formatted(LOG_LEVEL_DEBUG, fmt, ap);
    va_end(ap);
    return r;
}

/* ---- logged and shown ---- */

static void report_at(int level, const char *fmt, va_list ap)
{
    char raw[LOG_MSG_SIZE], msg[LOG_MSG_SIZE];
    vsnprintf(raw, sizeof raw, fmt, ap);
    escape_controls(msg, sizeof msg, raw); /* the console reads as the log does */
    if (level == LOG_LEVEL_ERROR)
        log_error("%s", msg);
    else
        log_info("%s", msg);
    plat_printf("\n%s\n", msg);
}

void log_report(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    report_at(LOG_LEVEL_ERROR, fmt, ap);
    va_end(ap);
}

void log_report_info(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    report_at(LOG_LEVEL_INFO, fmt, ap);
    va_end(ap);
}
