// Models as bytes: round trips of every Model feature are exact (the same bytes again, the
// same energy for every assignment) and every damaged buffer is refused with its reason.
#include "support/suite.hpp"

#include "support/model_util.hpp"
#include "support/plugin_models.hpp"

namespace {

using namespace dalo_test;

// Sol energies over every binary assignment and every integer value, in one fixed order of
// model indices and atoms; with the variable names.
std::vector<std::string> energies(const dalo_model* m) {
    const uint32_t n = dalo_model_var_count(m);
    const uint64_t atoms = dalo_model_int_var_count(m);
    std::vector<std::string> out;
    for (uint32_t i = 0; i < n; ++i) out.push_back(dalo_var_str(dalo_model_var(m, i)));
    std::vector<int64_t> lo(atoms), hi(atoms);
    for (uint64_t a = 0; a < atoms; ++a) dalo_model_int_var_bounds(m, a, &lo[a], &hi[a]);
    SolPtr s(dalo_sol_create(m));
    for (uint64_t mask = 0; mask < (uint64_t{1} << n); ++mask) {
        for (uint32_t i = 0; i < n; ++i)
            dalo_sol_set(s.get(), dalo_model_var(m, i), static_cast<uint32_t>((mask >> i) & 1));
        std::vector<int64_t> v = lo;
        for (bool more = true; more;) {
            for (uint64_t a = 0; a < atoms; ++a)
                dalo_sol_set_int(s.get(), dalo_model_int_var_orig(m, a), v[a]);
            out.push_back(std::to_string(dalo_sol_compute_energy(s.get(), nullptr)));
            more = false;
            for (uint64_t a = 0; a < atoms && !more; ++a) {
                more = ++v[a] <= hi[a];
                if (!more) v[a] = lo[a];
            }
        }
    }
    return out;
}

TEST(ModelBytes, RoundTripsAreExactForEveryKindOfModel) {
    std::mt19937_64 rng(21);
    const dalo_var x = dalo_new_var_array("b", std::array<uint64_t, 1>{9}.data(), 1);
    std::vector<dalo_var> ints;
    std::vector<ModelPtr> models;
    models.push_back(constrained_model(rng, x, 9));  // cubic, negations, every constraint kind
    models.push_back(mixed_model(rng, x, 3, ints));  // integer atoms
    models.push_back(shaped_mixed_model(rng, x, ints));
    models.push_back(random_qubo(rng, x, 9, 4));
    models.push_back(ModelPtr(dalo_model_create(ExprPtr(dalo_expr_create_int(-7)).get())));
    for (size_t k = 0; k < models.size(); ++k) {
        SCOPED_TRACE("model " + std::to_string(k));
        const std::vector<uint8_t> bytes = bytes_of(models[k].get());
        EXPECT_EQ(dalo_model_bytes_problem(bytes.data(), bytes.size()), nullptr);
        const uint64_t before = dalo_var_count();
        ModelPtr back(dalo_model_deserialize(bytes.data(), bytes.size()));
        EXPECT_EQ(dalo_var_count(), before + dalo_model_var_count(back.get()));
        EXPECT_EQ(bytes_of(back.get()), bytes);
        EXPECT_EQ(dalo_model_native_cons_count(back.get()),
                  dalo_model_native_cons_count(models[k].get()));
        EXPECT_EQ(energies(back.get()), energies(models[k].get()));
    }
}

TEST(ModelBytes, EveryDamagedBufferIsRefused) {
    std::mt19937_64 rng(4);
    const dalo_var x = dalo_new_var_array("d", std::array<uint64_t, 1>{6}.data(), 1);
    std::vector<dalo_var> ints;
    const std::vector<uint8_t> good = bytes_of(mixed_model(rng, x, 2, ints).get());
    for (size_t i = 0; i < good.size(); ++i) {
        for (const uint8_t flip : {0x01, 0x80}) {
            std::vector<uint8_t> bad = good;
            bad[i] ^= flip;
            EXPECT_NE(dalo_model_bytes_problem(bad.data(), bad.size()), nullptr) << "byte " << i;
        }
        EXPECT_NE(dalo_model_bytes_problem(good.data(), i), nullptr) << "length " << i;
    }
    auto problem = [&](size_t at, uint8_t value, size_t size) {
        std::vector<uint8_t> bad = good;
        bad[at] = value;
        return std::string(dalo_model_bytes_problem(bad.data(), size));
    };
    EXPECT_EQ(problem(0, 'X', good.size()), "not a dalo Model (unknown magic)");
    EXPECT_EQ(problem(8, 2, good.size()), "format version 2 (this library reads version 1)");
    EXPECT_EQ(problem(12, 1, good.size()), "foreign byte order");
    EXPECT_EQ(problem(0, 'D', 20), "too short for a Model header");
    EXPECT_EQ(problem(0, 'D', good.size() - 1),
              "the header announces " + std::to_string(good.size() - 32) + " payload bytes, " +
                  std::to_string(good.size() - 33) + " are there");
    EXPECT_EQ(problem(40, good[40] ^ 4, good.size()), "checksum mismatch (corrupted)");
    EXPECT_STREQ(dalo_model_bytes_problem(nullptr, 0), "too short for a Model header");
}

}  // namespace
