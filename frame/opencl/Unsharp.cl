// Unsharp mask, two kernels. Work item (x, y, c): pixel (x, y), channel c of get_global_size(2).
// Samples outside the region are copied. Inside it, with I the sample and MAX the sample maximum:
// AMC >= 1 gives MAX; else the blur acc (Gauss: sum of AKernel[KY * AKernelWidth + KX] times the
// window sample; Average: AKC times the sum of the window samples), KY outer and KX inner,
// window positions outside the input mirrored (before the start the edge is not repeated: -1
// reads 1; past the end it is: W reads W - 1); v = I - acc * AMC; where |v / MAX| > ATl the
// output is round(v / (1 - AMC)) clamped to 0 .. MAX, elsewhere I.
// The helpers carry the Gauss kernel's name so that the 8-bit and 16-bit texts can share a program.
// Contraction is off so that every product and sum rounds on its own, as on the CPU path.
#pragma OPENCL FP_CONTRACT OFF

inline int <[GaussKernel]>Mirror(int i, int n)
{
    if (i < 0) return min(-i, n - 1);
    if (i >= n) return max(0, (n - 1) - (i - n));
    return i;
}

inline <[uchar]> <[GaussKernel]>Finish(float I, float acc, float AMC, float ATl)
{
    const float MAX = (float)<[255]>;
    const float p = acc * AMC;
    const float v = I - p;
    if (fabs(v / MAX) > ATl) {
        const float q = round(v / (1.0f - AMC));
        return (<[uchar]>)fmin(MAX, fmax(0.0f, q));
    }
    return (<[uchar]>)I;
}

__kernel void <[GaussKernel]>(__global const <[uchar]>* AI, uint AIS, uint AISW, uint AISH,
                              uint ARX, uint ARY, uint ARW, uint ARH,
                              __global <[uchar]>* AO, uint AOS, uint AOSW, uint AOSH,
                              __global const float* AKernel, uint AKernelWidth, uint AKernelHeight,
                              uint AKernelCenterX, uint AKernelCenterY, float AMC, float ATl)
{
    const uint x = get_global_id(0), y = get_global_id(1), c = get_global_id(2);
    const uint BPP = get_global_size(2);
    const uint o = y * AOS + x * BPP + c;
    const <[uchar]> I = AI[y * AIS + x * BPP + c];
    if (x < ARX || x >= ARX + ARW || y < ARY || y >= ARY + ARH) {
        AO[o] = I;
        return;
    }
    if (AMC >= 1.0f) {
        AO[o] = <[255]>;
        return;
    }
    const int W = (int)AISW, H = (int)AISH;
    float acc = 0.0f;
    for (uint KY = 0; KY < AKernelHeight; ++KY) {
        const int YIn = <[GaussKernel]>Mirror((int)y - (int)AKernelCenterY + (int)KY, H);
        for (uint KX = 0; KX < AKernelWidth; ++KX) {
            const int XIn = <[GaussKernel]>Mirror((int)x - (int)AKernelCenterX + (int)KX, W);
            acc += AKernel[KY * AKernelWidth + KX] * (float)AI[(uint)YIn * AIS + (uint)XIn * BPP + c];
        }
    }
    AO[o] = <[GaussKernel]>Finish((float)I, acc, AMC, ATl);
}

__kernel void <[AverageKernel]>(__global const <[uchar]>* AI, uint AIS, uint AISW, uint AISH,
                                uint ARX, uint ARY, uint ARW, uint ARH,
                                __global <[uchar]>* AO, uint AOS, uint AOSW, uint AOSH,
                                uint AKernelWidth, uint AKernelHeight,
                                uint AKernelCenterX, uint AKernelCenterY, float AKC, float AMC, float ATl)
{
    const uint x = get_global_id(0), y = get_global_id(1), c = get_global_id(2);
    const uint BPP = get_global_size(2);
    const uint o = y * AOS + x * BPP + c;
    const <[uchar]> I = AI[y * AIS + x * BPP + c];
    if (x < ARX || x >= ARX + ARW || y < ARY || y >= ARY + ARH) {
        AO[o] = I;
        return;
    }
    if (AMC >= 1.0f) {
        AO[o] = <[255]>;
        return;
    }
    const int W = (int)AISW, H = (int)AISH;
    float sum = 0.0f;
    for (uint KY = 0; KY < AKernelHeight; ++KY) {
        const int YIn = <[GaussKernel]>Mirror((int)y - (int)AKernelCenterY + (int)KY, H);
        for (uint KX = 0; KX < AKernelWidth; ++KX) {
            const int XIn = <[GaussKernel]>Mirror((int)x - (int)AKernelCenterX + (int)KX, W);
            sum += (float)AI[(uint)YIn * AIS + (uint)XIn * BPP + c];
        }
    }
    AO[o] = <[GaussKernel]>Finish((float)I, AKC * sum, AMC, ATl);
}
