// Solarize: a sample of the region below ALevel becomes full scale minus the sample, any other
// sample is copied; samples outside the region are copied.
__kernel void <[KernelName]>(__global const <[uchar]>* AI, uint AIS, uint AISW, uint AISH,
                             uint ARX, uint ARY, uint ARW, uint ARH,
                             __global <[uchar]>* AO, uint AOS, uint AOSW, uint AOSH,
                             <[uchar]> ALevel)
{
    const uint x = get_global_id(0), y = get_global_id(1), c = get_global_id(2);
    const uint stride = get_global_size(2);
    const uint i = y * AIS + x * stride + c;
    const uint o = y * AOS + x * stride + c;
    const <[uchar]> v = AI[i];
    if (x < ARX || x >= ARX + ARW || y < ARY || y >= ARY + ARH)
        AO[o] = v;
    else
        AO[o] = v < ALevel ? (<[uchar]>)(<[255]> - v) : v;
}
