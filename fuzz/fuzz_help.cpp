// Fuzz target: the help reader.
//
// Input: a list of tags, one a line, then a NUL, then the bytes of the
// help file (NUL bytes included).  With no tags, every question's tag is
// looked up.  Each lookup is compared with a model of the reader that
// works on the bytes in memory, in the same 255-byte pieces, and is then
// repeated to check the cached answer.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_util.h"
#include "table/table.h"
#include "questions/help.h"

namespace {

const char NO_HELP[] = "No specific help is available for this question.";

// The file as fgets with a 256-byte buffer hands it over: pieces of at
// most 255 bytes, each ending after a line feed; a piece is read as a C
// string, so it ends at its first NUL.
std::vector<std::string> pieces(const std::string &file)
{
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos < file.size()) {
        size_t end = pos;
        while (end < file.size() && end - pos < (size_t)HELP_PIECE && file[end] != '\n') end++;
        if (end < file.size() && end - pos < (size_t)HELP_PIECE) end++; /* the line feed */
        std::string piece = file.substr(pos, end - pos);
        out.push_back(piece.substr(0, strlen(piece.c_str())));
        pos = end;
    }
    return out;
}

std::string model_lookup(const std::vector<std::string> &ps, const std::string &tag)
{
    size_t k = 0;
    while (k < ps.size() && !(ps[k][0] == '[' && ps[k].compare(1, tag.size(), tag) == 0)) k++;
    std::string text;
    for (k++; k < ps.size(); k++) {
        std::string p = ps[k];
        if (p[0] == '[') {
            if (!text.empty()) break;
            continue;
        }
        if (p[0] == '#') continue;
        size_t cr = p.find('\r');
        if (cr != std::string::npos) p.erase(cr, 1);
        text += p.substr(p.find_first_not_of('\t') == std::string::npos ? p.size() : p.find_first_not_of('\t'));
    }
    if (text.size() >= 2 && text.compare(text.size() - 2, 2, "\n\n") == 0) text.pop_back();
    return text.empty() ? NO_HELP : text;
}

void lookup_twice(help_reader *h, const std::vector<std::string> &ps, const std::string &tag, bool open)
{
    std::string want = open ? model_lookup(ps, tag) : NO_HELP;
    const char *got = help_lookup(h, tag.c_str());
    fz::check(got != nullptr, "help_lookup never gives null");
    fz::check(want == got, "help_lookup agrees with the model",
              "tag " + fz::show(tag) + "\ngot  " + fz::show(got) + "\nwant " + fz::show(want));
    const char *again = help_lookup(h, tag.c_str());
    fz::check(again == got, "a repeated lookup gives the cached text", fz::show(tag));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fz::enter_scratch();
    fz::clear_scratch();
    fz::Input in(data, size);
    std::string tag_list = in.part();
    std::string file = in.rest();

    std::vector<std::string> tags;
    if (tag_list.empty())
        for (int i = 0; i < Q_COUNT; i++) tags.push_back(question_tag(i));
    else
        tags = fz::split(tag_list, "\n");

    fz::write_file("install.hlp", file);
    std::vector<std::string> ps = pieces(file);
    help_reader h;
    fz::check(help_open(&h, ".\\install.hlp") == 1, "help_open on a readable file");
    for (const std::string &tag : tags) lookup_twice(&h, ps, tag, true);
    lookup_twice(&h, ps, tags.front(), true); /* back to an earlier tag: read again */
    fz::check(help_close(&h) == 1, "help_close");
    fz::check(h.last_tag == nullptr && h.last_text == nullptr, "help_close drops the cache");

    help_reader missing;
    fz::check(help_open(&missing, ".\\nosuch.hlp") == 0, "help_open on a missing file");
    lookup_twice(&missing, ps, tags.back(), false);
    help_close(&missing);
    return 0;
}
