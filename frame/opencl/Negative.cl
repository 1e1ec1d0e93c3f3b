// Negative: every sample of the region becomes full scale minus the sample; samples outside the
// region are copied. Work item (x, y, c); the pixel stride is the global size of dimension 2.
__kernel void <[KernelName]>(__global const <[uchar]>* AI, uint AIS, uint AISW, uint AISH,
                             uint ARX, uint ARY, uint ARW, uint ARH,
                             __global <[uchar]>* AO, uint AOS, uint AOSW, uint AOSH)
{
    const uint x = get_global_id(0), y = get_global_id(1), c = get_global_id(2);
    const uint stride = get_global_size(2);
    const uint i = y * AIS + x * stride + c;
    const uint o = y * AOS + x * stride + c;
    if (x < ARX || x >= ARX + ARW || y < ARY || y >= ARY + ARH)
        AO[o] = AI[i];
    else
        AO[o] = (<[uchar]>)(<[255]> - AI[i]);
}
