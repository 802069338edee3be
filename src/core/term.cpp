#include "core/term.hpp"

#include <atomic>
#include <cstdlib>
#include <new>

namespace dalo {

namespace {

// Set before the first tail exists; a thread that is handed a term with a tail sees it set,
// since the handover orders the store before the thread's own reads.
std::atomic<bool> g_tails_made{false};

}  // namespace

void note_tail() {
    if (!g_tails_made.load(std::memory_order_relaxed))
        g_tails_made.store(true, std::memory_order_relaxed);
}

bool tails_made() { return g_tails_made.load(std::memory_order_relaxed); }

Var* alloc_tail(uint64_t entries) {
    note_tail();
    void* p = std::malloc(entries * sizeof(Var));
    if (p == nullptr) throw std::bad_alloc();
    return static_cast<Var*>(p);
}

VarList copy_vars(const VarList& src) {
    VarList out{src.slot0, src.slot1, nullptr};
    if (src.slot1 == kNoVar || src.tail == nullptr || src.tail[0] == kNoVar) return out;
    uint32_t d = degree(src);
    out.tail = alloc_tail(tail_entries(d));
    std::memcpy(out.tail, src.tail, (d - 1) * sizeof(Var));  // identifiers and terminator
    return out;
}

VarList make_vars(const Var* vars, uint64_t n) {
    VarList out;
    if (n > 0) out.slot0 = vars[0];
    if (n > 1) out.slot1 = vars[1];
    if (n > 2) {
        out.tail = alloc_tail(tail_entries(static_cast<uint32_t>(n)));
        std::memcpy(out.tail, vars + 2, (n - 2) * sizeof(Var));
        out.tail[n - 2] = kNoVar;
    }
    return out;
}

void push_var(VarList& v, Var id) {
    if (v.slot0 == kNoVar) {
        v.slot0 = id;
        return;
    }
    if (v.slot1 == kNoVar) {
        v.slot1 = id;
        return;
    }
    note_tail();
    uint32_t d = degree(v);
    // realloc keeps the block when it already has room, whatever size the caller gave it.
    void* p = std::realloc(v.tail, tail_entries(d + 1) * sizeof(Var));
    if (p == nullptr) throw std::bad_alloc();
    v.tail = static_cast<Var*>(p);
    v.tail[d - 2] = id;
    v.tail[d - 1] = kNoVar;
}

VarList concat_vars(const VarList& a, const VarList& b) {
    uint32_t da = degree(a), db = degree(b);
    uint32_t d = da + db;
    VarList out;
    if (d <= 2) {
        Var ids[2] = {kNoVar, kNoVar};
        uint32_t k = 0;
        for (uint32_t i = 0; i < da; ++i) ids[k++] = var_at(a, i);
        for (uint32_t i = 0; i < db; ++i) ids[k++] = var_at(b, i);
        out.slot0 = ids[0];
        out.slot1 = ids[1];
        return out;
    }
    out.tail = alloc_tail(tail_entries(d));
    uint32_t k = 0;
    auto put = [&](Var id) {
        if (k == 0) {
            out.slot0 = id;
        } else if (k == 1) {
            out.slot1 = id;
        } else {
            out.tail[k - 2] = id;
        }
        ++k;
    };
    for (uint32_t i = 0; i < da; ++i) put(var_at(a, i));
    for (uint32_t i = 0; i < db; ++i) put(var_at(b, i));
    out.tail[d - 2] = kNoVar;
    return out;
}

}  // namespace dalo
