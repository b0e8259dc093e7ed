// Fuzz target: sequences of static-list operations.
//
// Each input byte pair is one operation (add, insert, get, remove, the
// cursor operations, free, a new growth step) on a real list and on a
// std::vector model of the container's rules.  After every step the two
// must agree on the result, the count, the spare slots and the cursor;
// items are heap blocks, so a lost or doubly freed item is a finding too.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "config/static_list.h"
#include "fuzz_util.h"

namespace {

int reports = 0;
int count_report(const char *, ...)
{
    reports++;
    return 0;
}

struct Model {
    std::vector<int *> items;
    int step = 5, spare = 0, cursor = -1;

    int count() const { return (int)items.size(); }
    void take_slot()
    {
        if (spare == 0) spare = step;
        spare--;
    }
    int add(int *item)
    {
        take_slot();
        items.push_back(item);
        return count() - 1;
    }
    int insert(int *item, int index)
    {
        if (index < 0) return -1;
        if (index >= count()) return add(item);
        take_slot();
        if (cursor >= index) cursor++;
        items.insert(items.begin() + index, item);
        return index;
    }
    int rewind()
    {
        cursor = items.empty() ? -1 : 0;
        return items.empty() ? -1 : 1;
    }
    int *next()
    {
        if (cursor < 0) return nullptr;
        int *item = items[cursor++];
        if (cursor >= count()) cursor = -1;
        return item;
    }
    int *get(int index)
    {
        if (index < 0 || index >= count()) return nullptr;
        cursor = index;
        return next();
    }
    int *remove(int index)
    {
        if (index < 0 || index >= count()) return nullptr;
        int *item = items[index];
        items.erase(items.begin() + index);
        spare = items.empty() ? 0 : spare + 1;
        if (cursor > index || (cursor == index && index == count())) cursor--;
        return item;
    }
    int *remove_current()
    {
        if (cursor <= 0) cursor = count();
        int *item = remove(cursor - 1);
        if (cursor >= count()) cursor = -1;
        return item;
    }
};

int next_id = 0;
int *new_item()
{
    int *p = (int *)malloc(sizeof(int));
    *p = next_id++;
    return p;
}

std::string where(int op, int step) { return "operation " + std::to_string(op) + " at step " + std::to_string(step); }

void same_item(int *got, int *want, int op, int step)
{
    fz::check(got == want, "item returned differs from the model", where(op, step));
}

void same_state(const static_list &l, const Model &m, int op, int step)
{
    std::string at = where(op, step);
    fz::check(l.marker == STATIC_MAGIC, "marker kept", at);
    fz::check(l.count == m.count(), "count", at);
    fz::check(l.spare == m.spare, "spare slots", at);
    fz::check(l.cursor == m.cursor, "cursor", at);
    fz::check(l.cursor >= -1 && l.cursor < (l.count > 0 ? l.count : 1), "cursor in range", at);
    fz::check((l.items == nullptr) == (l.count == 0 && l.spare == 0), "array released when empty", at);
    for (int k = 0; k < l.count; k++) fz::check(l.items[k] == m.items[k], "item order", at);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fz::Input in(data, size);
    static_list l;
    Model m;
    fz::check(static_init(&l, (in.byte() & 1) ? count_report : nullptr) == 1, "static_init");
    fz::check(static_init(nullptr, nullptr) == -3, "static_init null");

    for (int step = 0; !in.done(); step++) {
        int op = in.byte() % 12;
        int arg = (int)(int8_t)in.byte();
        switch (op) {
        case 0:
        case 1: {
            int *item = new_item();
            fz::check(static_add(&l, item) == m.add(item), "static_add result", where(op, step));
            break;
        }
        case 2: {
            int *item = new_item();
            int want = m.insert(item, arg);
            fz::check(static_insert(&l, item, arg) == want, "static_insert result", where(op, step));
            if (want < 0) free(item);
            break;
        }
        case 3: fz::check(static_rewind(&l) == m.rewind(), "static_rewind result", where(op, step)); break;
        case 4:
        case 5: same_item((int *)static_next(&l), m.next(), op, step); break;
        case 6: same_item((int *)static_get(&l, arg), m.get(arg), op, step); break;
        case 7: {
            int *want = m.remove(arg);
            same_item((int *)static_remove(&l, arg), want, op, step);
            free(want);
            break;
        }
        case 8:
        case 9: {
            int *want = m.remove_current();
            same_item((int *)static_remove_current(&l), want, op, step);
            free(want);
            break;
        }
        case 10:
            fz::check(static_free(&l) == 1, "static_free", where(op, step));
            m.items.clear();
            m.spare = 0;
            m.cursor = -1;
            break;
        case 11:
            fz::check(static_set_step(&l, arg) == 1, "static_set_step", where(op, step));
            m.step = arg < 1 ? 1 : arg;
            break;
        }
        fz::check(static_count(&l) == m.count(), "static_count", where(op, step));
        same_state(l, m, op, step);
    }
    fz::check(static_add(&l, nullptr) == -1 && static_insert(&l, nullptr, 0) == -1, "null items refused");
    fz::check(static_count(nullptr) == -3 && static_next(nullptr) == nullptr, "null list");
    static_free(&l);
    fz::check(l.count == 0 && l.items == nullptr && l.cursor == -1, "static_free empties the list");
    return 0;
}
