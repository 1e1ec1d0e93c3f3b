// Colour lookup: step, linear and cubic tables against an independent reference on all 256
// 8-bit and all 65536 16-bit inputs, every native format, alpha through table 3, the documented
// handling of short tables, duplicate levels and levels outside the sample range, pairs in any
// order, update bracketing, persistence of the tables (and refusal of truncated blocks), and the
// vector and scalar row paths giving the same bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include <nlohmann/json.hpp>

#include "filters/point/PXColorLookup.h"
#include "platform/kernels/Lookup.h"
#include "point/PointFilterSupport.h"

namespace pixora {
namespace {

using namespace pointtest;
using kernels::TLevelInterpolation;

struct TPair {
    int32_t Level, Value;
};

// The reference result for sample v, or two accepted values where the exact cubic lies within
// 1e-6 of a half (the filter evaluates in double precision, the reference in long double).
struct TAccepted {
    long Low, High;
};

long Saturate(long double v, long max) {
    if (v <= 0) return 0;
    if (v >= max) return max;
    return long(std::floor(v + 0.5L));  // halves up (values here are positive)
}

// Solves the Vandermonde system of n points (n <= 4) for the polynomial's coefficients around x0
// and evaluates it at v: the form the vendor documentation gives (A v^3 + B v^2 + C v + D).
long double PolynomialThrough(const std::vector<TPair>& points, long double v) {
    const int n = int(points.size());
    const long double x0 = points[0].Level;
    long double a[4][5] = {};
    for (int i = 0; i < n; ++i) {
        long double p = 1;
        for (int j = 0; j < n; ++j, p *= (points[std::size_t(i)].Level - x0)) a[i][j] = p;
        a[i][n] = points[std::size_t(i)].Value;
    }
    for (int col = 0; col < n; ++col) {
        int pivot = col;
        for (int r = col + 1; r < n; ++r)
            if (std::fabs(a[r][col]) > std::fabs(a[pivot][col])) pivot = r;
        std::swap(a[col], a[pivot]);
        for (int r = 0; r < n; ++r)
            if (r != col) {
                const long double f = a[r][col] / a[col][col];
                for (int j = col; j <= n; ++j) a[r][j] -= f * a[col][j];
            }
    }
    long double result = 0, p = 1;
    for (int j = 0; j < n; ++j, p *= (v - x0)) result += a[j][n] / a[j][j] * p;
    return result;
}

// Pairs in insertion order -> the mapping of v (max = 255 or 65535).
TAccepted Reference(std::vector<TPair> pairs, TLevelInterpolation mode, long v, long max) {
    std::stable_sort(pairs.begin(), pairs.end(), [](const TPair& a, const TPair& b) { return a.Level < b.Level; });
    const std::size_t n = pairs.size();
    if (n < 2 || v < pairs[0].Level || v >= pairs[n - 1].Level) return {v, v};
    std::size_t k = 0;
    while (k + 1 < n && pairs[k + 1].Level <= v) ++k;  // the last level at or below v
    if (mode == TLevelInterpolation::Step) {
        const long r = Saturate(pairs[k].Value, max);
        return {r, r};
    }
    if (mode == TLevelInterpolation::Linear) {
        const long double exact = pairs[k].Value + (long double)(v - pairs[k].Level) *
                                                       (long double)(pairs[k + 1].Value - pairs[k].Value) /
                                                       (long double)(pairs[k + 1].Level - pairs[k].Level);
        // Halves away from zero; exact in long double for the magnitudes used here.
        const long double rounded = exact < 0 ? -std::floor(-exact + 0.5L) : std::floor(exact + 0.5L);
        const long r = rounded <= 0 ? 0 : rounded >= max ? max : long(rounded);
        return {r, r};
    }
    // Cubic: one point per level (its last pair), through the pairs k - 1 .. k + 2 of those,
    // moved inside the table at its ends.
    std::vector<TPair> points;
    for (const TPair& p : pairs) {
        if (!points.empty() && points.back().Level == p.Level)
            points.back().Value = p.Value;
        else
            points.push_back(p);
    }
    std::size_t j = 0;
    while (j + 1 < points.size() && points[j + 1].Level <= v) ++j;
    const std::size_t window = std::min<std::size_t>(4, points.size());
    const std::size_t start = std::min(j == 0 ? 0 : j - 1, points.size() - window);
    const std::vector<TPair> used(points.begin() + long(start), points.begin() + long(start + window));
    const long double exact = PolynomialThrough(used, v);
    const long double frac = exact - std::floor(exact);
    if (exact > 0 && exact < max && std::fabs(frac - 0.5L) < 1e-6L)
        return {long(std::floor(exact)), long(std::floor(exact)) + 1};
    const long r = Saturate(exact, max);
    return {r, r};
}

template <class T>
void ExpectTableMatches(const std::vector<TPair>& pairs, TLevelInterpolation mode, const std::string& what) {
    std::vector<TPair> sorted = pairs;
    std::stable_sort(sorted.begin(), sorted.end(), [](const TPair& a, const TPair& b) { return a.Level < b.Level; });
    std::vector<int32_t> levels, values;
    for (const TPair& p : sorted) {
        levels.push_back(p.Level);
        values.push_back(p.Value);
    }
    const long max = long(SampleMax<T>);
    std::vector<T> table(std::size_t(max) + 1);
    kernels::BuildLevelTable<T>(levels.data(), values.data(), int(levels.size()), mode, table.data());
    long bad = 0;
    std::string first;
    for (long v = 0; v <= max; ++v) {
        const TAccepted e = Reference(pairs, mode, v, max);
        if ((table[std::size_t(v)] < e.Low || table[std::size_t(v)] > e.High) && bad++ == 0)
            first = "sample " + std::to_string(v) + ": got " + std::to_string(table[std::size_t(v)]) + ", want " +
                    std::to_string(e.Low);
    }
    EXPECT_EQ(bad, 0) << what << ": " << first;
}

const TLevelInterpolation KModes[] = {TLevelInterpolation::Step, TLevelInterpolation::Linear, TLevelInterpolation::Cubic};

const char* ModeName(TLevelInterpolation mode) {
    return mode == TLevelInterpolation::Step ? "step" : mode == TLevelInterpolation::Linear ? "linear" : "cubic";
}

TEST(LookupTable, EveryEightBitInputMatchesTheReference) {
    const std::vector<std::vector<TPair>> tables = {
        {{0, 0}, {255, 255}},
        {{0, 255}, {256, 0}},                                           // reaches 255 through a level above it
        {{10, 200}, {60, 20}, {100, 180}, {200, 40}},
        {{40, 10}, {0, 0}, {250, 255}, {128, 64}, {90, 200}, {170, 100}},  // pairs out of order
        {{-100, -300}, {30, 500}, {120, 90}, {400, 100}},                // levels and values beyond the range
        {{20, 50}, {70, 80}, {70, 10}, {70, 240}, {150, 30}, {220, 220}},  // a level three times
        {{5, 5}, {6, 250}, {7, 5}, {200, 100}, {201, 0}},              // steep cubics that overshoot
        {{30, 60}, {90, 30}, {180, 220}},                              // three pairs: a parabola
    };
    for (std::size_t t = 0; t < tables.size(); ++t)
        for (TLevelInterpolation mode : KModes)
            ExpectTableMatches<uint8_t>(tables[t], mode, "table " + std::to_string(t) + " " + ModeName(mode));
}

TEST(LookupTable, EverySixteenBitInputMatchesTheReference) {
    std::mt19937 random(5);
    std::vector<std::vector<TPair>> tables = {
        {{0, 65535}, {65536, 0}},
        {{0, 0}, {1000, 30000}, {20000, 10000}, {40000, 60000}, {65000, 65535}, {65535, 0}},
        {{300, 70000}, {700, -5000}, {5000, 33000}, {5000, 100}, {60000, 2}},
    };
    std::vector<TPair> randomTable;
    for (int i = 0; i < 12; ++i) randomTable.push_back({int32_t(random() % 70000) - 2000, int32_t(random() % 66000)});
    tables.push_back(randomTable);
    for (std::size_t t = 0; t < tables.size(); ++t)
        for (TLevelInterpolation mode : KModes)
            ExpectTableMatches<uint16_t>(tables[t], mode, "table " + std::to_string(t) + " " + ModeName(mode));
}

TEST(LookupTable, SamplesOutsideTheLevelsAndShortTablesKeepTheirValue) {
    for (TLevelInterpolation mode : KModes) {
        uint8_t table[256];
        const int32_t levels[] = {50, 100, 150, 200}, values[] = {0, 0, 0, 0};
        kernels::BuildLevelTable<uint8_t>(levels, values, 4, mode, table);
        EXPECT_EQ(table[49], 49);
        EXPECT_EQ(table[50], 0);
        EXPECT_EQ(table[199], 0);
        EXPECT_EQ(table[200], 200) << "the last level itself is copied";
        kernels::BuildLevelTable<uint8_t>(levels, values, 1, mode, table);
        EXPECT_TRUE(kernels::IsIdentityTable(table)) << "one pair";
        kernels::BuildLevelTable<uint8_t>(levels, values, 0, mode, table);
        EXPECT_TRUE(kernels::IsIdentityTable(table)) << "no pair";
    }
    // Equal levels: the interval between them is empty, a sample at that level takes the last of
    // them, and linear interpolation below it runs towards the first.
    const int32_t levels[] = {0, 100, 100, 200}, values[] = {0, 50, 150, 250};
    uint8_t step[256], linear[256];
    kernels::BuildLevelTable<uint8_t>(levels, values, 4, TLevelInterpolation::Step, step);
    kernels::BuildLevelTable<uint8_t>(levels, values, 4, TLevelInterpolation::Linear, linear);
    EXPECT_EQ(step[99], 0);
    EXPECT_EQ(step[100], 150);
    EXPECT_EQ(linear[98], 49);
    EXPECT_EQ(linear[100], 150);
    EXPECT_EQ(linear[150], 200);
}

TEST(LookupTable, VectorRowsGiveTheScalarRowsBytes) {
    if (!kernels::detail::CpuHasVbmi()) GTEST_SKIP() << "no AVX-512 VBMI on this CPU";
    std::mt19937 random(3);
    uint8_t tables[4][256];
    for (auto& t : tables)
        for (auto& v : t) v = uint8_t(random());
    for (int channels : {1, 3, 4})
        for (bool shared : {false, true})
            for (std::size_t samples : {0u, 1u, 63u, 64u, 65u, 192u, 200u, 4096u + 9u}) {
                const std::size_t n = samples - samples % std::size_t(channels);
                const uint8_t* t[4] = {tables[0], shared ? tables[0] : tables[1], tables[2], shared ? tables[0] : tables[3]};
                std::vector<uint8_t> src(n);
                for (auto& v : src) v = uint8_t(random());
                std::vector<uint8_t> scalar(n + 1, 0x5A), vector(n + 1, 0x5A);
                kernels::detail::LookupRowScalar(src.data(), scalar.data(), n, channels, t);
                kernels::detail::LookupRowVbmi(src.data(), vector.data(), n, channels, t);
                EXPECT_EQ(scalar, vector) << channels << " channels, " << n << " samples";
                for (std::size_t i = 0; i < n; ++i)
                    ASSERT_EQ(scalar[i], t[i % std::size_t(channels)][src[i]]) << "sample " << i;
                EXPECT_EQ(vector.back(), 0x5A) << "wrote past the row";
            }
}

// ---- the filter --------------------------------------------------------------------------------

void Fill(TPXLookupTable& table, const std::vector<TPair>& pairs) {
    table.BeginUpdate();
    table.Clear();
    for (const TPair& p : pairs) table.Add(p.Level, p.Value);
    table.EndUpdate();
}

const std::vector<TPair> KChannelPairs[4] = {
    {{0, 255}, {128, 100}, {256, 0}},
    {{20, 220}, {60, 30}, {200, 240}, {230, 10}},
    {{0, 0}, {64, 128}, {128, 32}, {192, 250}, {256, 255}},
    {{100, 0}, {200, 255}},
};

struct TFormatCase {
    TPXVideoFormat Format;
    TSize Size;
};

class ColorLookupFormats : public testing::TestWithParam<TFormatCase> {};

TEST_P(ColorLookupFormats, EveryChannelGoesThroughItsOwnTable) {
    const TFormatCase& c = GetParam();
    const long max = c.Format == vfGray16 ? 65535 : 255;
    for (auto [mode, interpolation] : {std::pair{clmStep, TLevelInterpolation::Step},
                                       std::pair{clmLinear, TLevelInterpolation::Linear},
                                       std::pair{clmCubic, TLevelInterpolation::Cubic}}) {
        const IPXImageBuffer in = RandomFrame(c.Size.Width, c.Size.Height, c.Format, 77);
        const IPXImageBuffer before = Snapshot(in);
        TPXColorLookup filter;
        filter.SetThreaded(false);
        filter.LookupTables().SetLookupMode(mode);
        for (int ch = 0; ch < 4; ++ch) Fill(filter.LookupTables().GetColorChannel(ch), KChannelPairs[ch]);
        // A 16-bit frame goes through table 0 on its full range.
        if (c.Format == vfGray16) Fill(filter.LookupTables().GetColorChannel(0), {{1000, 60000}, {30000, 200}, {65535, 1}});
        const IPXImageBuffer out = filter.ProcessFrame(in);
        ASSERT_EQ(out->GetFormat(), c.Format);
        std::vector<TPair> pairs[4] = {KChannelPairs[0], KChannelPairs[1], KChannelPairs[2], KChannelPairs[3]};
        if (c.Format == vfGray16) pairs[0] = {{1000, 60000}, {30000, 200}, {65535, 1}};
        // The reference of every sample value, per channel.
        std::vector<TAccepted> accepted[4];
        for (int ch = 0; ch < SamplesPerPixel(c.Format); ++ch)
            for (long v = 0; v <= max; ++v) accepted[ch].push_back(Reference(pairs[ch], interpolation, v, max));
        ExpectSamples(out, [&](int x, int y, int ch) {
            const TAccepted e = accepted[ch][std::size_t(SampleAt(in, x, y, ch))];
            const long got = SampleAt(out, x, y, ch);
            return int(got >= e.Low && got <= e.High ? got : e.Low);
        }, std::string(FormatName(c.Format)) + " mode " + std::to_string(int(mode)));
        EXPECT_TRUE(SamePixels(in, before)) << "the input frame was written";
    }
}

std::vector<TFormatCase> FormatCases() {
    std::vector<TFormatCase> cases;
    for (TPXVideoFormat format : {vfRGB24, vfRGBA32, vfGray8, vfGray16})
        for (TSize size : {TSize{1, 1}, TSize{2, 1}, TSize{37, 23}, TSize{64, 5}, TSize{320, 200}})
            cases.push_back({format, size});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(FormatsAndSizes, ColorLookupFormats, testing::ValuesIn(FormatCases()),
                         [](const testing::TestParamInfo<TFormatCase>& info) {
                             return std::string(FormatName(info.param.Format).substr(2)) + "_" +
                                    std::to_string(info.param.Size.Width) + "x" + std::to_string(info.param.Size.Height);
                         });

TEST(ColorLookup, EmptyTablesWriteNothing) {
    const IPXImageBuffer in = RandomFrame(37, 23, vfRGBA32, 1);
    TPXColorLookup filter;
    filter.SetThreaded(false);
    IPXImageBuffer out = filter.ProcessFrame(in);
    EXPECT_EQ(out->GetReadPointer(), in->GetReadPointer()) << "the output should share the input's pixels";
    // Only the alpha table set: a three-channel frame uses tables 0 to 2 and stays as it is.
    Fill(filter.LookupTables().GetColorChannel(3), {{0, 255}, {256, 255}});
    const IPXImageBuffer rgb = RandomFrame(37, 23, vfRGB24, 2);
    out = filter.ProcessFrame(rgb);
    EXPECT_EQ(out->GetReadPointer(), rgb->GetReadPointer());
    // ... while a four-channel frame gets its alpha from table 3.
    out = filter.ProcessFrame(in);
    ExpectSamples(out, [&](int x, int y, int c) { return c == 3 ? 255 : SampleAt(in, x, y, c); });
}

TEST(ColorLookup, ATableWithOnePairPassesItsChannelAndWarns) {
    TWarningRecorder warnings;
    const IPXImageBuffer in = RandomFrame(9, 4, vfRGB24, 4);
    TPXColorLookup filter;
    filter.SetThreaded(false);
    filter.LookupTables().GetColorChannel(0).Add(10, 20);
    Fill(filter.LookupTables().GetColorChannel(2), {{0, 0}, {256, 0}});
    const IPXImageBuffer out = filter.ProcessFrame(in);
    ExpectSamples(out, [&](int x, int y, int c) { return c == 2 ? 0 : SampleAt(in, x, y, c); });
    filter.ProcessFrame(in);
    ASSERT_EQ(warnings.Messages.size(), 1u) << "one warning per change of the tables";
    EXPECT_EQ(warnings.Messages[0],
              "lookup table 0 has one pair; a table needs at least two, so channel 0 passes through unchanged");
}

TEST(ColorLookup, PairsAddedInAnyOrderApplyInLevelOrder) {
    const IPXImageBuffer in = RandomFrame(50, 10, vfGray8, 6);
    std::vector<TPair> pairs = {{0, 10}, {40, 200}, {90, 60}, {130, 255}, {200, 0}, {256, 128}};
    IPXImageBuffer first;
    std::mt19937 random(8);
    for (int round = 0; round < 5; ++round) {
        std::shuffle(pairs.begin(), pairs.end(), random);
        TPXColorLookup filter;
        filter.SetThreaded(false);
        filter.LookupTables().SetLookupMode(clmLinear);
        Fill(filter.LookupTables().GetColorChannel(0), pairs);
        const IPXImageBuffer out = filter.ProcessFrame(in);
        if (!first) first = out;
        EXPECT_TRUE(SamePixels(out, first)) << "round " << round;
    }
}

TEST(ColorLookup, ChangesTakeEffectOnTheNextFrame) {
    const IPXImageBuffer in = TPXImageBuffer::CreateSize(256, 1, vfGray8);
    for (int i = 0; i < 256; ++i) SetSample(in, i, 0, 0, i);
    TPXColorLookup filter;
    filter.SetThreaded(false);
    TPXLookupTable& table = filter.LookupTables().GetColorChannel(0);
    Fill(table, {{0, 0}, {256, 256}});
    filter.LookupTables().SetLookupMode(clmLinear);
    EXPECT_TRUE(SamePixels(filter.ProcessFrame(in), in));
    table.SetValue(1, 0);  // now everything maps to 0
    ExpectSamples(filter.ProcessFrame(in), [](int, int, int) { return 0; });
    table.SetValue(0, 256);  // 256 - v, saturated at 255 for v = 0
    ExpectSamples(filter.ProcessFrame(in), [](int x, int, int) { return std::min(255, 256 - x); });
    filter.LookupTables().SetLookupMode(clmStep);  // step: value of the interval start
    ExpectSamples(filter.ProcessFrame(in), [](int, int, int) { return 255; });
}

TEST(LookupTables, MutationsNotifyOnceAndUpdateBracketsOnceAtTheEnd) {
    TPXColorLookup filter;
    std::vector<std::string> seen;
    filter.GetLock().Subscribe([&](std::string_view property) { seen.emplace_back(property); });
    TPXLookupTable& table = filter.LookupTables().GetColorChannel(1);
    table.Add(10, 20);
    table.Add(30, 40);
    table.SetLevel(0, 11);
    table.SetLevel(0, 11);  // unchanged: no notification
    table.SetValue(1, 41);
    table.SetCount(3);
    table.Clear();
    table.Clear();  // already empty
    EXPECT_EQ(seen.size(), 6u);
    EXPECT_EQ(seen.back(), "LookupTables");

    seen.clear();
    table.BeginUpdate();
    table.BeginUpdate();
    for (int i = 0; i < 10; ++i) table.Add(i * 20, 255 - i * 20);
    table.EndUpdate();
    EXPECT_TRUE(seen.empty()) << "the inner end must not notify";
    table.EndUpdate();
    EXPECT_EQ(seen.size(), 1u);
    table.EndUpdate();  // unbalanced: the counter stays at 0, nothing to announce
    EXPECT_EQ(seen.size(), 1u);
    table.Add(1, 1);  // not inside a bracket any more
    EXPECT_EQ(seen.size(), 2u);
    table.BeginUpdate();
    table.EndUpdate();  // an empty bracket announces nothing
    EXPECT_EQ(seen.size(), 2u);
    EXPECT_EQ(table.GetCount(), 11);

    std::vector<int32_t> levels, values;
    table.GetSorted(levels, values);
    EXPECT_TRUE(std::is_sorted(levels.begin(), levels.end()));
    EXPECT_EQ(levels.front(), 0);
    EXPECT_EQ(table.GetLevel(10), 1) << "the insertion order is kept";
}

TEST(LookupTables, BadIndicesAndCountsAreRefusedWithTheirReason) {
    TPXColorLookup filter;
    TPXLookupTable& table = filter.LookupTables().GetColorChannel(0);
    table.Add(1, 2);
    try {
        table.GetLevel(1);
        FAIL();
    } catch (const ERangeError& e) {
        EXPECT_STREQ(e.what(), "TPXLookupTable: index 1 is out of range 0 to 0");
    }
    EXPECT_THROW(table.SetValue(-1, 0), ERangeError);
    EXPECT_THROW(table.SetCount(-2), ERangeError);
    EXPECT_THROW(filter.LookupTables().GetColorChannel(4), ERangeError);
    EXPECT_THROW(table.SetPairs({1, 2, 3}, {1, 2}), ERangeError);
    EXPECT_EQ(table.GetCount(), 1);
}

TEST(LookupTables, TablesAndModePersistAndSettingThemCopies) {
    TPXColorLookup a;
    a.LookupTables().SetLookupMode(clmLinear);
    Fill(a.LookupTables().GetColorChannel(0), {{200, 1}, {0, 2}, {100, 3}});  // insertion order is kept
    Fill(a.LookupTables().GetColorChannel(3), {{-5, 70000}, {300, -1}});
    nlohmann::json saved;
    SaveProperties(a, saved);
    EXPECT_EQ(saved["LookupTables"]["LookupMode"], "clmLinear");
    EXPECT_EQ(saved["LookupTables"]["Tables"][0]["Levels"], nlohmann::json::parse("[200, 0, 100]"));
    TPXColorLookup b;
    LoadProperties(b, saved);
    nlohmann::json again;
    SaveProperties(b, again);
    EXPECT_EQ(again, saved);
    EXPECT_EQ(b.LookupTables().GetColorChannel(3).GetValue(0), 70000);

    TPXColorLookup c;
    c.SetLookupTables(a.LookupTables());
    a.LookupTables().GetColorChannel(0).Clear();
    EXPECT_EQ(c.LookupTables().GetColorChannel(0).GetCount(), 3) << "the tables were shared, not copied";
    EXPECT_EQ(c.LookupTables().GetLookupMode(), clmLinear);
}

TEST(LookupTables, TruncatedOrMalformedBlocksAreRefusedAndChangeNothing) {
    TPXColorLookup filter;
    Fill(filter.LookupTables().GetColorChannel(1), {{1, 2}, {3, 4}});
    nlohmann::json good;
    SaveProperties(filter, good);
    const auto withTables = [&](const nlohmann::json& tables) {
        nlohmann::json j = good;
        j["LookupTables"]["Tables"] = tables;
        return j;
    };
    nlohmann::json table = {{"Levels", {1, 2}}, {"Values", {3, 4}}};
    nlohmann::json shortValues = {{"Levels", {1, 2, 3}}, {"Values", {3, 4}}};
    nlohmann::json noValues = {{"Levels", {1, 2}}};
    nlohmann::json text = {{"Levels", {1, "2"}}, {"Values", {3, 4}}};
    nlohmann::json big = {{"Levels", {1, 4294967296LL}}, {"Values", {3, 4}}};
    nlohmann::json extra = {{"Levels", {1}}, {"Values", {3}}, {"Mode", 1}};
    const struct {
        nlohmann::json Block;
        const char* Message;
    } cases[] = {
        {nlohmann::json::array({table, table, table}), "the stored block holds 3 tables, expected 4"},
        {nlohmann::json::array({table, shortValues, table, table}), "table 1: 3 levels but 2 values (truncated block)"},
        {nlohmann::json::array({table, table, noValues, table}), "table 2: the field 'Values' is missing"},
        {nlohmann::json::array({table, table, table, text}), "table 3: 'Levels' holds \"2\", expected an integer"},
        {nlohmann::json::array({big, table, table, table}), "outside the 32-bit integer range"},
        {nlohmann::json::array({table, extra, table, table}), "table 1: unknown field 'Mode'"},
        {nlohmann::json("01ab"), "expected an array of 4 tables"},
    };
    for (const auto& c : cases) {
        try {
            LoadProperties(filter, withTables(c.Block));
            FAIL() << "accepted " << c.Block.dump();
        } catch (const EPropertyError& e) {
            EXPECT_NE(std::string(e.what()).find(c.Message), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find("TPXLookupTables.Tables"), std::string::npos) << e.what();
        }
        EXPECT_EQ(filter.LookupTables().GetColorChannel(1).GetCount(), 2);
        EXPECT_EQ(filter.LookupTables().GetColorChannel(0).GetCount(), 0);
    }
}

}  // namespace
}  // namespace pixora
