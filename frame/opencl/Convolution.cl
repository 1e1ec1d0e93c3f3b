// Rectangular convolution. Work item (x, y, c): pixel (x, y), channel c of get_global_size(2).
// Samples outside the region are copied. Inside it: acc = 0; for every matrix row KY and column
// KX, acc += AKernel[KY * AKernelWidth + KX] * the input sample at (x - AKernelCenterX + KX,
// y - AKernelCenterY + KY), positions outside the input mirrored (before the start the edge is
// not repeated: -1 reads 1; past the end it is: W reads W - 1). The result is acc + 0.5f
// converted toward zero, saturated to the sample range (a negative or NaN sum gives 0).
// Contraction is off so that every product and sum rounds on its own, as on the CPU path.
#pragma OPENCL FP_CONTRACT OFF
__kernel void <[KernelName]>(__global const <[uchar]>* AI, uint AIS, uint AISW, uint AISH,
                             uint ARX, uint ARY, uint ARW, uint ARH,
                             __global <[uchar]>* AO, uint AOS, uint AOSW, uint AOSH,
                             __global const float* AKernel, uint AKernelWidth, uint AKernelHeight,
                             uint AKernelCenterX, uint AKernelCenterY)
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
            acc += AKernel[KY * AKernelWidth + KX] * (float)AI[(uint)YIn * AIS + (uint)XIn * BPP + c];
        }
    }
    AO[y * AOS + x * BPP + c] = convert_<[uchar]>_sat(acc + 0.5f);
}
