// Box filter kernels: three templates, each starting at its "//@template" line (the component
// instantiates each one separately). Work item (x, y, c): pixel (x, y), channel c of
// get_global_size(2); samples outside the region are copied. The window is AKernelWidth x
// AKernelHeight with its cell (AKernelCenterX, AKernelCenterY) over the pixel; positions outside
// the input are mirrored (before the start the edge is not repeated: -1 reads 1; past the end it
// is: W reads W - 1).
//@template Average2DKernel
// Mean: the window's float sum times AKernelCoeffitient, rounded (halves away from zero),
// saturated to the sample range.
#pragma OPENCL FP_CONTRACT OFF
__kernel void <[Average2DKernel]>(__global const <[uchar]>* AI, uint AIS, uint AISW, uint AISH,
                                  uint ARX, uint ARY, uint ARW, uint ARH,
                                  __global <[uchar]>* AO, uint AOS, uint AOSW, uint AOSH,
                                  uint AKernelWidth, uint AKernelHeight, uint AKernelCenterX, uint AKernelCenterY,
                                  float AKernelCoeffitient)
{
    const uint x = get_global_id(0), y = get_global_id(1), c = get_global_id(2);
    const uint BPP = get_global_size(2);
    if (x < ARX || x >= ARX + ARW || y < ARY || y >= ARY + ARH) {
        AO[y * AOS + x * BPP + c] = AI[y * AIS + x * BPP + c];
        return;
    }
    const int W = (int)AISW, H = (int)AISH;
    float acc = 0.0f;
    for (uint KY = 0; KY < AKernelHeight; ++KY) {
        int YIn = (int)y - (int)AKernelCenterY + (int)KY;
        if (YIn < 0) YIn = min(-YIn, H - 1);
        else if (YIn >= H) YIn = max(0, (H - 1) - (YIn - H));
        for (uint KX = 0; KX < AKernelWidth; ++KX) {
            int XIn = (int)x - (int)AKernelCenterX + (int)KX;
            if (XIn < 0) XIn = min(-XIn, W - 1);
            else if (XIn >= W) XIn = max(0, (W - 1) - (XIn - W));
            acc += (float)AI[(uint)YIn * AIS + (uint)XIn * BPP + c];
        }
    }
    AO[y * AOS + x * BPP + c] = convert_<[uchar]>_sat(round(acc * AKernelCoeffitient));
}
//@template Median2DKernel
// Median: each work item inserts its window into its own slice of ASortList (binary search for
// the first greater value, so equal values go after existing ones), then takes the middle value,
// or for an even count the integer mean of the two middle values.
__kernel void <[Median2DKernel]>(__global const <[uchar]>* AI, uint AIS, uint AISW, uint AISH,
                                 uint ARX, uint ARY, uint ARW, uint ARH,
                                 __global <[uchar]>* AO, uint AOS, uint AOSW, uint AOSH,
                                 uint AKernelWidth, uint AKernelHeight, uint AKernelCenterX, uint AKernelCenterY,
                                 __global <[uchar]>* ASortList)
{
    const uint x = get_global_id(0), y = get_global_id(1), c = get_global_id(2);
    const uint BPP = get_global_size(2);
    if (x < ARX || x >= ARX + ARW || y < ARY || y >= ARY + ARH) {
        AO[y * AOS + x * BPP + c] = AI[y * AIS + x * BPP + c];
        return;
    }
    const int W = (int)AISW, H = (int)AISH;
    const uint count = AKernelWidth * AKernelHeight;
    __global <[uchar]>* list = ASortList + (((y - ARY) * ARW + (x - ARX)) * BPP + c) * count;
    uint n = 0;
    for (uint KY = 0; KY < AKernelHeight; ++KY) {
        int YIn = (int)y - (int)AKernelCenterY + (int)KY;
        if (YIn < 0) YIn = min(-YIn, H - 1);
        else if (YIn >= H) YIn = max(0, (H - 1) - (YIn - H));
        for (uint KX = 0; KX < AKernelWidth; ++KX) {
            int XIn = (int)x - (int)AKernelCenterX + (int)KX;
            if (XIn < 0) XIn = min(-XIn, W - 1);
            else if (XIn >= W) XIn = max(0, (W - 1) - (XIn - W));
            const <[uchar]> v = AI[(uint)YIn * AIS + (uint)XIn * BPP + c];
            uint lo = 0, hi = n;
            while (lo < hi) {
                const uint mid = (lo + hi) / 2;
                if (list[mid] > v) hi = mid; else lo = mid + 1;
            }
            for (uint i = n; i > lo; --i) list[i] = list[i - 1];
            list[lo] = v;
            ++n;
        }
    }
    if (n % 2 == 1)
        AO[y * AOS + x * BPP + c] = list[n / 2];
    else
        AO[y * AOS + x * BPP + c] = (<[uchar]>)(((uint)list[n / 2 - 1] + (uint)list[n / 2]) / 2);
}
//@template MinMax2DKernel
// Minimum (<[Min]> = min, starting from the maximum sample) or maximum (<[Min]> = max, starting
// from 0) of the window.
__kernel void <[MinMax2DKernel]>(__global const <[uchar]>* AI, uint AIS, uint AISW, uint AISH,
                                 uint ARX, uint ARY, uint ARW, uint ARH,
                                 __global <[uchar]>* AO, uint AOS, uint AOSW, uint AOSH,
                                 uint AKernelWidth, uint AKernelHeight, uint AKernelCenterX, uint AKernelCenterY)
{
    const uint x = get_global_id(0), y = get_global_id(1), c = get_global_id(2);
    const uint BPP = get_global_size(2);
    if (x < ARX || x >= ARX + ARW || y < ARY || y >= ARY + ARH) {
        AO[y * AOS + x * BPP + c] = AI[y * AIS + x * BPP + c];
        return;
    }
    const int W = (int)AISW, H = (int)AISH;
    <[uchar]> result = <[255]>;
    for (uint KY = 0; KY < AKernelHeight; ++KY) {
        int YIn = (int)y - (int)AKernelCenterY + (int)KY;
        if (YIn < 0) YIn = min(-YIn, H - 1);
        else if (YIn >= H) YIn = max(0, (H - 1) - (YIn - H));
        for (uint KX = 0; KX < AKernelWidth; ++KX) {
            int XIn = (int)x - (int)AKernelCenterX + (int)KX;
            if (XIn < 0) XIn = min(-XIn, W - 1);
            else if (XIn >= W) XIn = max(0, (W - 1) - (XIn - W));
            result = <[Min]>(result, AI[(uint)YIn * AIS + (uint)XIn * BPP + c]);
        }
    }
    AO[y * AOS + x * BPP + c] = result;
}
