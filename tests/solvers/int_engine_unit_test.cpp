// The integer search engine: parameters, move sets, the kept list, optimality against brute
// force, stop conditions, hints, callbacks and the GPU submitter with a fake engine.
#include "support/suite.hpp"

#include <regex>

#include "capi/sol_handle.hpp"
#include "model/sol.hpp"
#include "solvers/int_engine.hpp"
#include "solvers/int_engine/detail.hpp"
#include "support/plugin_models.hpp"

namespace {

using namespace dalo;
using dalo_test::ExprPtr;
using dalo_test::build::add, dalo_test::build::binary, dalo_test::build::model_of;

// ---------------------------------------------------------------------------------------------
// Models

// (coefficient, variables) pairs.
using Terms = std::vector<std::pair<int64_t, std::vector<dalo_var>>>;

// constant + the sum of the terms.
ExprPtr poly(int64_t constant, const Terms& terms) {
    ExprPtr e(dalo_expr_create_int(constant));
    for (const auto& [c, vs] : terms) add(e, c, vs);
    return e;
}

ModelHandle compile(const ExprPtr& obj) {
    const dalo_test::ModelPtr m = model_of(binary(obj));
    return *unwrap(m.get());
}

// Two small integers and two bits under every kind of native constraint: bounds, an allowed
// set, exponent 1 and 2 shapes (abs, relu) and a nonlinear body; a cubic term with a negated
// literal.
ModelHandle mixed_model() {
    const dalo_var x = dalo_new_int_var("mx", -3, 4), y = dalo_new_int_var("my", 0, 5);
    const dalo_var b0 = dalo_new_var("mb0"), b1 = dalo_new_var("mb1");
    const Terms terms = {{3, {x, y}}, {-2, {x, x}},     {5, {b0, x}},
                         {-4, {b1}},  {2, {b0, b1, y}}, {4, {b0 | DALO_NEG_BIT, b1, x}}};
    ExprPtr obj = poly(3, terms);
    dalo_test::attach(obj.get(),
                      dalo_cons_between(poly(0, {{1, {x}}, {2, {y}}, {-1, {b0}}}).get(), 1, 6), 3);
    const int64_t lo[2] = {-1, 3}, hi[2] = {0, 3};
    dalo_test::attach(obj.get(), dalo_cons_equal(poly(0, {{1, {x}}, {1, {y}}}).get(), lo, hi, 2),
                      2);
    dalo_test::attach(obj.get(), dalo_abs_term(poly(1, {{1, {x}}, {-1, {y}}}).get(), 1), 2);
    dalo_test::attach(obj.get(), dalo_relu_term(poly(0, {{2, {x}}, {-1, {y}}}).get(), 2));
    dalo_test::attach(obj.get(), dalo_cons_between(poly(0, {{1, {x, y}}, {1, {b1}}}).get(), -2, 4),
                      5);
    return compile(obj);
}

// (x + y - 3)^2 over [0, 3]^2: four optimal states of energy 0.
ModelHandle ties_model() {
    const dalo_var x = dalo_new_int_var("tx", 0, 3), y = dalo_new_int_var("ty", 0, 3);
    return compile(poly(9, {{1, {x, x}}, {1, {y, y}}, {2, {x, y}}, {-6, {x}}, {-6, {y}}}));
}

// Thirty bits that each cost 1 but pay 100 all together, and k with (k - 2)^2: the optimum
// -70 is a needle that local moves do not reach.
ModelHandle needle_model() {
    const uint64_t n = 30;
    const dalo_var first = dalo_new_var_array("nd", &n, 1);
    const dalo_var k = dalo_new_int_var("nk", 0, 5);
    ExprPtr obj = poly(4, {{1, {k, k}}, {-4, {k}}});
    std::vector<dalo_var> all;
    for (dalo_var i = 0; i < n; ++i) {
        add(obj, 1, {first + i});
        all.push_back(first + i);
    }
    add(obj, -100, all);
    return compile(obj);
}

// ---------------------------------------------------------------------------------------------
// Reference evaluation through a Sol

int64_t sol_energy(const ModelHandle& h, const uint64_t* bits, const std::vector<int64_t>& ints) {
    SolImpl sol(h);
    for (uint64_t w = 0; w < sol.bits.size(); ++w) sol.bits[w] = bits[w];
    sol.int_vals = ints;
    return sol.energy_of_values();
}

// Minimum energy over every state, by the shared brute force over Sol energies.
int64_t brute_minimum(const ModelHandle& h) {
    const dalo_model* m = wrap(&h);
    std::vector<dalo_var> ints;
    for (uint64_t a = 0; a < h->int_count(); ++a)
        ints.push_back(dalo_model_int_var_orig(m, a) | DALO_INT_BIT);
    return dalo_test::mixed_optimum(m, ints);
}

using Items = std::vector<std::pair<std::string, std::string>>;

IntSearchOpts options(const Items& items, const char* name = "BriskSolver") {
    ParamList p;
    for (const auto& [k, v] : items) p.add(k, v);
    return int_search_options(p, name);
}

SolverResult search(const ModelHandle& h, IntSearchOpts o) {
    o.model = h;
    return brisk_int_search(*h, o);
}

std::string info(const SolverResult& r, const std::string& key) {
    for (const auto& [k, v] : r.info)
        if (k == key) return v;
    return "<missing>";
}

void expect_consistent(const ModelHandle& h, const SolverResult& r) {
    EXPECT_EQ(sol_energy(h, r.bits.data(), r.int_values), r.energy);
    ASSERT_EQ(r.int_values.size(), h->int_count());
    for (uint64_t a = 0; a < h->int_count(); ++a) {
        EXPECT_GE(r.int_values[a], h->int_lower[a]);
        EXPECT_LE(r.int_values[a], h->int_upper[a]);
    }
    for (const TopkEntry& e : r.topk)
        EXPECT_EQ(sol_energy(h, e.bits.data(), e.int_values), e.energy);
}

// ---------------------------------------------------------------------------------------------
// Parameters

TEST(IntSearchOptions, IntegerParser) {
    EXPECT_EQ(parse_param_int("  -12abc"), -12);
    EXPECT_EQ(parse_param_int("\t+7"), 7);
    for (const char* bad : {"x", "", "  ", "-", "+", " -a1"})
        EXPECT_EQ(dalo_test::thrown<std::runtime_error>([&] { parse_param_int(bad); }),
                  std::string("dalo::_from_string: invalid integer '") + bad + "'");
}

TEST(IntSearchOptions, DefaultsAndValues) {
    IntSearchOpts d = options({}, "BriskSolver");
    EXPECT_EQ(std::tuple(d.time_limit, d.has_target, d.topk, d.best_energy_sols, d.default_callback,
                         d.name),
              std::tuple(10.0, false, uint64_t{0}, false, false, std::string("BriskSolver")));
    EXPECT_LE(d.seed, 0xFFFFFFFFull);
    EXPECT_GE(d.threads, 1u);

    const Items items = {{"time_limit", "0.25"}, {"target_energy", "  -12abc"},
                         {"seed", "123"},        {"threads", "3"},
                         {"topk_sols", "4"},     {"best_energy_sols", "5x"}};
    IntSearchOpts o = options(items, "KELPSolver");
    EXPECT_EQ(std::tuple(o.time_limit, o.has_target, o.target, o.seed, o.threads, o.topk,
                         o.best_energy_sols, o.best_energy_limit, o.name),
              std::tuple(0.25, true, int64_t{-12}, uint64_t{123}, 3u, uint64_t{4}, true,
                         uint64_t{5}, std::string("KELPSolver")));

    IntSearchOpts any = options({{"best_energy_sols", "all"}}, "BriskSolver");
    EXPECT_TRUE(any.best_energy_sols);
    EXPECT_EQ(any.best_energy_limit, 0u);

    const std::pair<const char*, bool> callback_values[] = {
        {"1", true}, {"True", true}, {"TRUE", false}, {"0", false}};
    for (const auto& [text, on] : callback_values)
        EXPECT_EQ(options({{"enable_default_callback", text}}, "B").default_callback, on) << text;
    EXPECT_THROW(options({{"target_energy", "x"}}, "B"), std::runtime_error);
}

TEST(IntSearchOptionsDeathTest, BadValuesAndKeys) {
    EXPECT_FATAL(options({{"threads", "0"}}, "BriskSolver"), "BriskSolver: threads must be >= 1.");
    EXPECT_FATAL(options({{"topk_sols", "0"}}, "KELPSolver"),
                 "KELPSolver: topk_sols must be >= 1.");
    EXPECT_FATAL(options({{"thread_count", "2"}}, "BriskSolver"),
                 "BriskSolver: parameter 'thread_count' is not supported for native integer "
                 "models yet.");
}

TEST(IntSearchOptionsDeathTest, HintChecks) {
    ModelHandle h = mixed_model();
    IntSearchOpts o = options({}, "BriskSolver");
    const uint64_t bits = 0;
    const int64_t ok[2] = {-3, 5}, high[2] = {4, 6};
    EXPECT_FATAL(set_int_hint(o, *h, &bits, ok, 1),
                 "BriskSolver: hint integer-variable count mismatch.");
    EXPECT_FATAL(set_int_hint(o, *h, &bits, high, 2),
                 "BriskSolver: hint value outside the integer variable's bounds.");
    set_int_hint(o, *h, nullptr, high, 2);  // no bits: no hint
    EXPECT_EQ(o.hint_bits, nullptr);
    set_int_hint(o, *h, &bits, ok, 2);
    EXPECT_EQ(o.hint_bits, &bits);
    EXPECT_EQ(o.hint_ints, ok);
}

// ---------------------------------------------------------------------------------------------
// Move sets and the kept list

TEST(IntEngineKeeper, TopkOrderDuplicatesAndCut) {
    int_detail::Keeper k(3, false, 0);
    const int64_t a[1] = {1}, b[1] = {2}, c[1] = {3}, d[1] = {4}, e[1] = {5};
    using Kept = std::vector<std::pair<int64_t, int64_t>>;  // (value, energy) in list order
    auto kept = [&] {
        Kept out;
        for (const auto& s : k.kept()) out.emplace_back(s.vals[0], s.energy);
        return out;
    };
    EXPECT_TRUE(k.offer(a, 1, 10, 0.1));
    EXPECT_FALSE(k.offer(b, 1, 10, 0.2));  // equal: after the listed 10
    EXPECT_FALSE(k.offer(a, 1, 10, 0.3));  // identical: ignored
    EXPECT_TRUE(k.offer(c, 1, 5, 0.4));
    EXPECT_EQ(kept(), (Kept{{3, 5}, {1, 10}, {2, 10}}));
    EXPECT_FALSE(k.offer(d, 1, 10, 0.5));  // full and not lower than the last
    EXPECT_EQ(kept(), (Kept{{3, 5}, {1, 10}, {2, 10}}));
    EXPECT_FALSE(k.offer(e, 1, 7, 0.6));  // cuts the last 10
    EXPECT_EQ(kept(), (Kept{{3, 5}, {5, 7}, {1, 10}}));
    EXPECT_EQ(k.best().energy, 5);
    EXPECT_EQ(k.best().tts, 0.4);
}

// ---------------------------------------------------------------------------------------------
// Searches

TEST(IntEngineTest, BestEnergyCollectsDistinctOptima) {
    ModelHandle h = ties_model();
    SolverResult all = search(h, options({{"time_limit", "0.1"}, {"best_energy_sols", "0"}}));
    ASSERT_EQ(all.topk.size(), 4u);
    std::set<std::vector<int64_t>> states;
    for (const TopkEntry& e : all.topk) {
        EXPECT_EQ(e.energy, 0);
        EXPECT_EQ(e.int_values[0] + e.int_values[1], 3);
        states.insert(e.int_values);
    }
    EXPECT_EQ(states.size(), 4u);
    SolverResult two = search(h, options({{"time_limit", "0.1"}, {"best_energy_sols", "2"}}));
    EXPECT_EQ(two.topk.size(), 2u);
    EXPECT_NE(two.topk[0].int_values, two.topk[1].int_values);
}

struct Fetch {
    std::atomic<int> calls[2] = {0, 0};
    std::atomic<bool> pending[2] = {true, true};
    uint64_t bits = 0b01;
    int64_t ints[2] = {-1, 4};
    uint64_t nint = 2;
};

bool fetch_hint(void* context, int consumer, uint64_t* bits, int64_t* ints) {
    auto* f = static_cast<Fetch*>(context);
    ++f->calls[consumer];
    if (!f->pending[consumer].exchange(false)) return false;
    bits[0] = f->bits;
    std::copy(f->ints, f->ints + f->nint, ints);
    return true;
}

TEST(IntEngineTest, HintsStartWorkerZero) {
    ModelHandle h = mixed_model();
    // With no time at all the single worker offers its start state: the hint.
    const uint64_t bits = 0b10;
    const int64_t ints[2] = {2, 1};
    IntSearchOpts o = options({{"time_limit", "0"}, {"threads", "1"}}, "BriskSolver");
    set_int_hint(o, *h, &bits, ints, 2);
    SolverResult r = search(h, o);
    EXPECT_EQ(r.bits[0], bits);
    EXPECT_EQ(r.int_values, (std::vector<int64_t>{2, 1}));
    expect_consistent(h, r);
    EXPECT_EQ(info(r, "rounds"), "1");
    // A pending hint starts a round the same way.
    Fetch f;
    IntSearchOpts po = options({{"time_limit", "0"}, {"threads", "1"}}, "KELPSolver");
    po.hint_fetch = fetch_hint;
    po.hint_context = &f;
    r = search(h, po);
    EXPECT_EQ(f.calls[0].load(), 1);
    EXPECT_EQ(r.bits[0], f.bits);
    EXPECT_EQ(r.int_values, (std::vector<int64_t>{-1, 4}));
}

struct Events {
    ModelHandle model;
    double first_answer = 0.0;
    double timer_answer = -1.0;
    std::atomic<int> count[3] = {0, 0, 0};
    std::atomic<int> bad{0};
};

double count_events(void* context, SolImpl* s, uint32_t event) {
    auto* ev = static_cast<Events*>(context);
    ++ev->count[event];
    if (s->energy_of_values() != s->energy || s->model != ev->model) ++ev->bad;
    const bool at_start = s->bits[0] == 0 && s->int_vals == ev->model->int_lower && s->tts == 0.0;
    if (event == 0 && !at_start) ++ev->bad;
    delete s;
    return event == 0 ? ev->first_answer : event == 2 ? ev->timer_answer : -1.0;
}

TEST(IntEngineTest, CallbackEventsAndTimer) {
    ModelHandle h = mixed_model();
    struct Case {
        double first, timer;
        int min_timer, max_timer;
    };
    // A positive answer starts the timer, zero stops it, a negative one keeps it as it is.
    for (const Case c : {Case{0.03, -1.0, 4, 9}, Case{0.03, 0.0, 1, 1}, Case{-1.0, -1.0, 0, 0},
                         Case{0.0, -1.0, 0, 0}}) {
        Events ev{.model = h, .first_answer = c.first, .timer_answer = c.timer};
        IntSearchOpts o = options({{"time_limit", "0.25"}, {"threads", "1"}}, "KELPSolver");
        o.callback = count_events;
        o.callback_context = &ev;
        search(h, o);
        EXPECT_EQ(ev.count[0].load(), 1);
        EXPECT_GE(ev.count[1].load(), 1);
        EXPECT_GE(ev.count[2].load(), c.min_timer) << c.first << " " << c.timer;
        EXPECT_LE(ev.count[2].load(), c.max_timer) << c.first << " " << c.timer;
        EXPECT_EQ(ev.bad.load(), 0);
    }
}

TEST(IntEngineTest, DefaultCallbackLines) {
    ModelHandle h = mixed_model();
    const IntSearchOpts o =
        options({{"time_limit", "0.05"}, {"threads", "2"}, {"enable_default_callback", "1"}});
    SolverResult r;
    const std::string out = dalo_test::stdout_of([&] { r = search(h, o); });
    const std::regex line(
        "TTS = [0-9]+\\.[0-9]{3}s Energy = (-?[0-9]+) Obj = (-?[0-9]+) Viol = ([0-9]+)/3");
    std::smatch last;  // of the last line, kept alive in text
    std::string text;
    ASSERT_FALSE(out.empty());
    for (size_t at = 0; at < out.size();) {
        const size_t end = out.find('\n', at);
        ASSERT_NE(end, std::string::npos);
        text = out.substr(at, end - at);
        ASSERT_TRUE(std::regex_match(text, last, line)) << text;
        at = end + 1;
    }
    // The last line is the best state: its objective is the energy less the penalties.
    std::vector<int64_t> vals;
    for (uint32_t i = 0; i < h->var_count(); ++i) vals.push_back((r.bits[0] >> i) & 1);
    vals.insert(vals.end(), r.int_values.begin(), r.int_values.end());
    const int_detail::StateEval e = int_detail::evaluate_state(*h, vals.data());
    EXPECT_EQ(std::stoll(last[1]), r.energy);
    EXPECT_EQ(std::stoll(last[2]), e.energy - e.penalty);
    EXPECT_EQ(std::stoull(last[3]), e.violated);
    // Without native constraints the line ends after the energy.
    const IntSearchOpts quiet =
        options({{"time_limit", "0.02"}, {"threads", "1"}, {"enable_default_callback", "true"}});
    const std::string plain = dalo_test::stdout_of([&] { search(ties_model(), quiet); });
    EXPECT_TRUE(
        std::regex_search(plain, std::regex("^TTS = [0-9]+\\.[0-9]{3}s Energy = -?[0-9]+\n")));
    EXPECT_EQ(plain.find("Obj"), std::string::npos);
}

// ---------------------------------------------------------------------------------------------
// The GPU submitter with a fake engine

struct FakeGpu {
    ModelHandle model;
    int64_t energy_offset = 0;   // added to the reported energies
    bool all_ones = false;       // return every bit set
    bool out_of_bounds = false;  // return an integer above its bound
    int32_t answer = 0;
    int calls = 0;
    int bad_starts = 0;
    std::vector<std::vector<int64_t>> hints{};
};

int32_t fake_round(void* engine, const uint64_t* start_bits, const int64_t* start_ints,
                   uint32_t batch, uint64_t* out_bits, int64_t* out_ints, int64_t* energies,
                   uint8_t* improved) {
    auto* f = static_cast<FakeGpu*>(engine);
    const ModelImpl& m = *f->model;
    const uint64_t words = word_count(m.var_count()), nint = m.int_count();
    ++f->calls;
    EXPECT_EQ(batch, 8u);
    for (uint32_t j = 0; j < batch; ++j) {
        std::vector<int64_t> ints(start_ints + j * nint, start_ints + (j + 1) * nint);
        for (uint64_t a = 0; a < nint; ++a)
            if (ints[a] < m.int_lower[a] || ints[a] > m.int_upper[a]) ++f->bad_starts;
        for (uint64_t w = 0; w < words; ++w) {
            const uint32_t used = m.var_count() - 64 * static_cast<uint32_t>(w);
            const uint64_t mask = used >= 64 ? ~0ull : (uint64_t{1} << used) - 1;
            out_bits[j * words + w] = f->all_ones ? mask : start_bits[j * words + w];
            if (start_bits[j * words + w] & ~mask) ++f->bad_starts;
        }
        if (f->out_of_bounds) ints[0] = m.int_upper[0] + 1;
        std::copy(ints.begin(), ints.end(), out_ints + j * nint);
        energies[j] = sol_energy(f->model, out_bits + j * words, ints) + f->energy_offset;
        improved[j] = 1;
    }
    return f->answer;
}

void fake_hint(void* engine, const uint64_t*, const int64_t* ints) {
    auto* f = static_cast<FakeGpu*>(engine);
    f->hints.emplace_back(ints, ints + f->model->int_count());
}

IntSearchOpts gpu_opts(FakeGpu& f, const char* time_limit, const char* threads) {
    IntSearchOpts o = options({{"time_limit", time_limit}, {"threads", threads}}, "KELPSolver");
    o.gpu_engine = &f;
    o.gpu_round = fake_round;
    o.gpu_hint = fake_hint;
    return o;
}

TEST(IntEngineGpuTest, VerifiedStatesAreOffered) {
    ModelHandle h = needle_model();
    FakeGpu f{.model = h, .all_ones = true};
    Fetch fetch{.pending = {false, true}, .ints = {3, 4}, .nint = 1};
    IntSearchOpts o = gpu_opts(f, "0.1", "1");
    o.hint_fetch = fetch_hint;
    o.hint_context = &fetch;
    const uint64_t hint_bits = 0;
    const int64_t hint_int = 5;
    set_int_hint(o, *h, &hint_bits, &hint_int, 1);
    setenv("DALO_KELP_INT_DEBUG", "1", 1);
    testing::internal::CaptureStderr();
    SolverResult r = search(h, o);
    const std::string err = testing::internal::GetCapturedStderr();
    unsetenv("DALO_KELP_INT_DEBUG");
    // Only the fake reaches the needle.
    EXPECT_EQ(r.energy, -70);
    expect_consistent(h, r);
    EXPECT_EQ(info(r, "engine"), "integer-cpu+gpu");
    EXPECT_EQ(err, "[kelp-int-gpu] rounds=" + info(r, "rounds") +
                       " submissions=" + std::to_string(f.calls) + "\n");
    EXPECT_GT(f.calls, 1);
    EXPECT_EQ(f.bad_starts, 0);
    // The search's hint goes first, then the pending one.
    EXPECT_EQ(f.hints, (std::vector<std::vector<int64_t>>{{5}, {3}}));
}

TEST(IntEngineGpuTest, PoolStatesStayInBoundsAndNonZeroEndsSubmissions) {
    ModelHandle h = mixed_model();
    FakeGpu f{.model = h};
    SolverResult r = search(h, gpu_opts(f, "0.1", "2"));
    EXPECT_EQ(r.energy, brute_minimum(h));
    EXPECT_GT(f.calls, 10);
    EXPECT_EQ(f.bad_starts, 0);

    FakeGpu once{.model = h, .answer = 1};
    SolverResult r1 = search(h, gpu_opts(once, "0.05", "1"));
    EXPECT_EQ(once.calls, 1);
    EXPECT_EQ(info(r1, "engine"), "integer-cpu+gpu");
}

TEST(IntEngineGpuDeathTest, EnergyMismatchIsFatal) {
    ModelHandle h = mixed_model();
    const std::string msg = "KELPSolver: internal error — GPU integer engine energy mismatch.";
    FakeGpu offset{.model = h, .energy_offset = 1}, outside{.model = h, .out_of_bounds = true};
    EXPECT_FATAL(search(h, gpu_opts(offset, "1", "1")), msg);
    EXPECT_FATAL(search(h, gpu_opts(outside, "1", "1")), msg);
}

}  // namespace
