// The two-input layout: output size by size mode, the pane cut and the single panes, checked
// pixel by pixel against a slow reference that asks, for every output pixel, which inputs
// cover it.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "platform/base/PXErrors.h"
#include "platform/filters/PXCommonCombine.h"
#include "platform/props/PXChangeNotifyLock.h"

namespace pixora {
namespace {

// What the reference says about one plane position.
struct TCover {
    bool In1 = false, In2 = false;
};

struct TReferenceLayout {
    long P1x, P1y, P2x, P2y;  // corners of the inputs in the plane
    long OriginX, OriginY, Width, Height;
};

// Placement and output window from first principles: the plane is shifted so that nothing lies
// left of or above 0; per axis the output covers the union (wrap) or the common part.
TReferenceLayout ReferenceLayout(TSize in1, TSize in2, int h, int v, TPXCombineSizeMode mode, TSize custom) {
    TReferenceLayout r{};
    const long minX = std::min(0L, long(h)), minY = std::min(0L, long(v));
    r.P1x = h - minX, r.P1y = v - minY, r.P2x = -minX, r.P2y = -minY;
    const auto axis = [](long a0, long alen, long b0, long blen, bool wrap, long& origin, long& len) {
        if (wrap) {
            origin = 0;
            len = std::max(a0 + alen, b0 + blen);
        } else {
            long count = 0, first = -1;
            for (long x = std::min(a0, b0); x < std::max(a0 + alen, b0 + blen); ++x)
                if (x >= a0 && x < a0 + alen && x >= b0 && x < b0 + blen) {
                    if (first < 0) first = x;
                    ++count;
                }
            origin = count > 0 ? first : 0;
            len = count;
        }
    };
    const bool wrapW = mode == smWrappingRect || mode == smHorizontalIntersect || mode == smCustom;
    const bool wrapH = mode == smWrappingRect || mode == smVerticalIntersect || mode == smCustom;
    axis(r.P1x, in1.Width, r.P2x, in2.Width, wrapW, r.OriginX, r.Width);
    axis(r.P1y, in1.Height, r.P2y, in2.Height, wrapH, r.OriginY, r.Height);
    if (mode == smCustom) r.OriginX = 0, r.OriginY = 0, r.Width = custom.Width, r.Height = custom.Height;
    return r;
}

TPXCombineSizeFlags FlagsFor(TPXCombineSizeMode mode, TSize custom) {
    TPXCombineSizeFlags f = SizeFlagsOf(mode);
    f.CustomWidth = custom.Width;
    f.CustomHeight = custom.Height;
    return f;
}

// The panes the layout uses (nine with overlap, the two singles without).
std::vector<TPXCombineFramePane> UsedPanes(const TPXCombineGeometry& g) {
    std::vector<TPXCombineFramePane> panes;
    if (g.Overlap) {
        for (const auto& row : g.Panes)
            for (const auto& p : row) panes.push_back(p);
    } else {
        panes.push_back(g.Single1);
        panes.push_back(g.Single2);
    }
    return panes;
}

// Every output pixel: shown by exactly the right pane kind with the right input positions, or
// by no pane when it is background (which the layout must then ask for).
void ExpectLayoutMatchesReference(TSize in1, TSize in2, int h, int v, TPXCombineSizeMode mode, TSize custom) {
    const std::string where = "in1 " + std::to_string(in1.Width) + "x" + std::to_string(in1.Height) + " in2 " +
                              std::to_string(in2.Width) + "x" + std::to_string(in2.Height) + " offset " +
                              std::to_string(h) + "," + std::to_string(v) + " mode " + std::to_string(int(mode));
    const TReferenceLayout ref = ReferenceLayout(in1, in2, h, v, mode, custom);
    const TPXCombineGeometry g = ComputeCombineGeometry(in1, in2, h, v, FlagsFor(mode, custom), true);
    ASSERT_EQ(g.Output.Width, ref.Width) << where;
    ASSERT_EQ(g.Output.Height, ref.Height) << where;

    // Overlap: the inputs overlap or touch on both axes.
    const bool touchX = ref.P1x <= ref.P2x + in2.Width && ref.P2x <= ref.P1x + in1.Width;
    const bool touchY = ref.P1y <= ref.P2y + in2.Height && ref.P2y <= ref.P1y + in1.Height;
    EXPECT_EQ(g.Overlap, touchX && touchY) << where;

    const std::vector<TPXCombineFramePane> panes = UsedPanes(g);
    bool anyBackground = false;
    for (long y = 0; y < ref.Height; ++y)
        for (long x = 0; x < ref.Width; ++x) {
            const long px = ref.OriginX + x, py = ref.OriginY + y;
            TCover c;
            c.In1 = px >= ref.P1x && px < ref.P1x + in1.Width && py >= ref.P1y && py < ref.P1y + in1.Height;
            c.In2 = px >= ref.P2x && px < ref.P2x + in2.Width && py >= ref.P2y && py < ref.P2y + in2.Height;
            const TPXCombineFramePane* found = nullptr;
            int hits = 0;
            for (const auto& p : panes) {
                if (p.PicToShow == psNone) continue;
                if (x >= p.OutputLoc.X && x < p.OutputLoc.X + p.Roi.Width && y >= p.OutputLoc.Y &&
                    y < p.OutputLoc.Y + p.Roi.Height) {
                    found = &p;
                    ++hits;
                }
            }
            const std::string at = where + " pixel " + std::to_string(x) + "," + std::to_string(y);
            ASSERT_LE(hits, 1) << at << ": panes overlap";
            TPXCombinePicToShow want = c.In1 && c.In2 ? psImageBoth : c.In1 ? psImage1 : c.In2 ? psImage2 : psBackground;
            if (want == psBackground) anyBackground = true;
            // Background outside the wrapping rectangle has no pane: the layout says so and the
            // whole output is filled first. Without overlap no background has a pane.
            const long wrapW = std::max(ref.P1x + in1.Width, ref.P2x + in2.Width);
            const long wrapH = std::max(ref.P1y + in1.Height, ref.P2y + in2.Height);
            const bool outsideWrap = px >= wrapW || py >= wrapH;
            if (want == psBackground && (!g.Overlap || outsideWrap)) {
                ASSERT_EQ(found, nullptr) << at << ": background pixel covered by a pane";
                if (g.Overlap) {
                    ASSERT_TRUE(g.OutputBeyondPanes) << at;
                }
                continue;
            }
            ASSERT_NE(found, nullptr) << at << ": no pane";
            ASSERT_EQ(found->PicToShow, want) << at;
            const long dx = x - found->OutputLoc.X, dy = y - found->OutputLoc.Y;
            if (c.In1 && want != psBackground) {
                EXPECT_EQ(found->LocInPic1.X + dx, px - ref.P1x) << at;
                EXPECT_EQ(found->LocInPic1.Y + dy, py - ref.P1y) << at;
            }
            if (c.In2 && want != psBackground) {
                EXPECT_EQ(found->LocInPic2.X + dx, px - ref.P2x) << at;
                EXPECT_EQ(found->LocInPic2.Y + dy, py - ref.P2y) << at;
            }
        }
    // No pane reaches outside the output.
    for (const auto& p : panes) {
        if (p.PicToShow == psNone) continue;
        EXPECT_GE(p.OutputLoc.X, 0) << where;
        EXPECT_GE(p.OutputLoc.Y, 0) << where;
        EXPECT_LE(p.OutputLoc.X + p.Roi.Width, ref.Width) << where;
        EXPECT_LE(p.OutputLoc.Y + p.Roi.Height, ref.Height) << where;
    }
    EXPECT_EQ(g.NeedsBackground, anyBackground || !g.Overlap) << where;
}

const TPXCombineSizeMode KModes[] = {smIntersect, smWrappingRect, smVerticalIntersect, smHorizontalIntersect,
                                     smCustom};

TEST(CombinePanes, EverySizeModeAndOffsetMatchesThePixelReference) {
    const TSize sizes1[] = {{4, 3}, {1, 1}, {7, 2}};
    const TSize sizes2[] = {{5, 4}, {2, 6}};
    const TSize customs[] = {{9, 7}, {2, 3}};
    for (TSize a : sizes1)
        for (TSize b : sizes2)
            for (int h = -9; h <= 9; ++h)
                for (int v = -8; v <= 8; v += 2)
                    for (TPXCombineSizeMode mode : KModes)
                        for (TSize custom : customs) {
                            ExpectLayoutMatchesReference(a, b, h, v, mode, custom);
                            if (HasFatalFailure() || mode != smCustom) break;
                        }
}

TEST(CombinePanes, EqualInputsWithoutOffsetGiveOneCombinedPaneAndNoBackground) {
    for (TPXCombineSizeMode mode : {smIntersect, smWrappingRect, smVerticalIntersect, smHorizontalIntersect}) {
        const TPXCombineGeometry g = ComputeCombineGeometry({37, 23}, {37, 23}, 0, 0, SizeFlagsOf(mode), true);
        EXPECT_TRUE(g.Overlap);
        EXPECT_FALSE(g.NeedsBackground);
        int shown = 0;
        for (const auto& row : g.Panes)
            for (const auto& p : row)
                if (p.PicToShow != psNone) {
                    ++shown;
                    EXPECT_EQ(p.PicToShow, psImageBoth);
                    EXPECT_EQ(p.Roi, (TSize{37, 23}));
                }
        EXPECT_EQ(shown, 1);
    }
}

TEST(CombinePanes, OffsetPastInputTwoLeavesABackgroundGap) {
    const TSize in1{20, 10}, in2{30, 12};
    const TPXCombineGeometry g = ComputeCombineGeometry(in1, in2, in2.Width + 10, 0, SizeFlagsOf(smWrappingRect), true);
    EXPECT_FALSE(g.Overlap);
    EXPECT_TRUE(g.NeedsBackground);
    EXPECT_EQ(g.Output, (TSize{30 + 10 + 20, 12}));
    EXPECT_EQ(g.Single2.PicToShow, psImage2);
    EXPECT_EQ(g.Single2.OutputLoc, (TPXCombinePoint{0, 0}));
    EXPECT_EQ(g.Single1.PicToShow, psImage1);
    EXPECT_EQ(g.Single1.OutputLoc.X - (g.Single2.OutputLoc.X + g.Single2.Roi.Width), 10);
}

TEST(CombinePanes, TouchingEdgesOverlapByZeroPixels) {
    const TSize in1{6, 4}, in2{5, 4};
    for (int h : {5, -6}) {
        const TPXCombineGeometry g = ComputeCombineGeometry(in1, in2, h, 0, SizeFlagsOf(smWrappingRect), true);
        EXPECT_TRUE(g.Overlap) << h;
        EXPECT_EQ(g.Intersection.Width, 0) << h;
        EXPECT_EQ(g.Output, (TSize{11, 4})) << h;
        EXPECT_FALSE(g.NeedsBackground) << h;
        for (const auto& row : g.Panes)
            for (const auto& p : row) EXPECT_NE(p.PicToShow, psImageBoth) << h;
        const TPXCombineGeometry gi = ComputeCombineGeometry(in1, in2, h, 0, SizeFlagsOf(smIntersect), true);
        EXPECT_EQ(gi.Output.Width, 0) << h;
    }
    // One more pixel apart: no overlap.
    EXPECT_FALSE(ComputeCombineGeometry(in1, in2, 6, 0, SizeFlagsOf(smWrappingRect), true).Overlap);
    EXPECT_FALSE(ComputeCombineGeometry(in1, in2, -7, 0, SizeFlagsOf(smWrappingRect), true).Overlap);
}

TEST(CombinePanes, WithoutFrameSizeTheGivenOutputSizeIsKept) {
    const TPXCombineGeometry g = ComputeCombineGeometry({8, 8}, {8, 8}, 2, 3, SizeFlagsOf(smIntersect), false, {5, 4});
    EXPECT_EQ(g.Output, (TSize{5, 4}));
    EXPECT_EQ(g.OutputOrigin, (TPXCombinePoint{0, 0}));
}

TEST(CombinePanes, SizesOutsideTheIntegerRangeAreRangeErrors) {
    EXPECT_THROW(ComputeCombineGeometry({-1, 4}, {4, 4}, 0, 0, SizeFlagsOf(smWrappingRect), true), ERangeError);
    EXPECT_THROW(ComputeCombineGeometry({2000000000, 4}, {4, 4}, 2000000000, 0, SizeFlagsOf(smWrappingRect), true),
                 ERangeError);
    TPXCombineSizeFlags f = SizeFlagsOf(smCustom);
    f.CustomWidth = 4000000000LL;
    try {
        ComputeCombineGeometry({4, 4}, {4, 4}, 0, 0, f, true);
        ADD_FAILURE() << "no error";
    } catch (const ERangeError& e) {
        EXPECT_NE(std::string(e.what()).find("output width"), std::string::npos) << e.what();
    }
}

// ---- Settings objects ------------------------------------------------------------------------

TEST(CombineFrameSize, SizeModeMapsToTheThreeFlagsAndBack) {
    TChangeNotifyLock lock;
    TPXCombineFrameSize fs(lock);
    EXPECT_EQ(fs.GetSizeMode(), smWrappingRect);
    EXPECT_EQ(fs.GetWidth(), 240u);
    EXPECT_EQ(fs.GetHeight(), 180u);
    struct TRow {
        TPXCombineSizeMode Mode;
        bool WrapWidth, WrapHeight, Custom;
    };
    const TRow rows[] = {{smIntersect, false, false, false},
                         {smWrappingRect, true, true, false},
                         {smVerticalIntersect, false, true, false},
                         {smHorizontalIntersect, true, false, false},
                         {smCustom, true, true, true}};
    for (const TRow& r : rows) {
        fs.SetSizeMode(r.Mode);
        EXPECT_EQ(fs.GetWrapWidth(), r.WrapWidth) << int(r.Mode);
        EXPECT_EQ(fs.GetWrapHeight(), r.WrapHeight) << int(r.Mode);
        EXPECT_EQ(fs.GetCustom(), r.Custom) << int(r.Mode);
        EXPECT_EQ(fs.GetSizeMode(), r.Mode);
        EXPECT_EQ(GetPropertyText(fs, "SizeMode"), std::string(
                      r.Mode == smIntersect ? "smIntersect" : r.Mode == smWrappingRect ? "smWrappingRect"
                      : r.Mode == smVerticalIntersect ? "smVerticalIntersect"
                      : r.Mode == smHorizontalIntersect ? "smHorizontalIntersect" : "smCustom"));
    }
    // From custom to wrapping: Custom is cleared although the wrap flags stay.
    fs.SetSizeMode(smCustom);
    SetPropertyText(fs, "SizeMode", "smWrappingRect");
    EXPECT_FALSE(fs.GetCustom());
    EXPECT_EQ(fs.GetSizeMode(), smWrappingRect);
}

TEST(CombineFrameSize, ChangesNotifyOnceAndRepeatsDoNot) {
    TChangeNotifyLock lock;
    TPXCombineFrameSize fs(lock);
    const auto before = lock.ChangeCount();
    fs.SetSizeMode(smIntersect);
    EXPECT_EQ(lock.ChangeCount(), before + 1);
    fs.SetSizeMode(smIntersect);
    EXPECT_EQ(lock.ChangeCount(), before + 1);
    fs.SetWidth(320);
    EXPECT_EQ(lock.ChangeCount(), before + 2);
}

TEST(CombineFrameSize, AssignCopiesSizeAndWrapFlagsButNotCustom) {
    TChangeNotifyLock lock1, lock2;
    TPXCombineFrameSize from(lock1), to(lock2);
    from.SetWidth(64);
    from.SetHeight(48);
    from.SetSizeMode(smCustom);
    to.SetSizeMode(smIntersect);
    const auto before = lock2.ChangeCount();
    to.Assign(from);
    EXPECT_EQ(to.GetWidth(), 64u);
    EXPECT_EQ(to.GetHeight(), 48u);
    EXPECT_TRUE(to.GetWrapWidth());
    EXPECT_TRUE(to.GetWrapHeight());
    EXPECT_FALSE(to.GetCustom());
    EXPECT_EQ(to.GetSizeMode(), smWrappingRect);
    EXPECT_GT(lock2.ChangeCount(), before);
}

TEST(CombineFrameSize, PersistsAndReloadsThroughJson) {
    TChangeNotifyLock lock;
    TPXCombineFrameSize fs(lock);
    fs.SetSizeMode(smHorizontalIntersect);
    fs.SetWidth(100);
    nlohmann::json j;
    SaveProperties(fs, j);
    TPXCombineFrameSize back(lock);
    LoadProperties(back, j);
    EXPECT_EQ(back.GetSizeMode(), smHorizontalIntersect);
    EXPECT_EQ(back.GetWidth(), 100u);
    EXPECT_THROW(SetPropertyText(back, "SizeMode", "smDiagonal"), EPropertyError);
}

TEST(CombineOffset, DefaultsToZeroAndStoresBothAxes) {
    TChangeNotifyLock lock;
    TPXCombineOffset o(lock);
    EXPECT_EQ(o.GetHorizontal(), 0);
    EXPECT_EQ(o.GetVertical(), 0);
    SetPropertyText(o, "Horizontal", "-12");
    o.SetVertical(7);
    EXPECT_EQ(o.GetHorizontal(), -12);
    EXPECT_EQ(GetPropertyText(o, "Vertical"), "7");
}

}  // namespace
}  // namespace pixora
