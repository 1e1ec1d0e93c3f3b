// Image adjustment: "ImageAdjust" applies the colour step (hue, lightness, saturation) and then
// brightness and contrast; "ImageAdjust_NoHLS" only brightness and contrast. Work item (x, y)
// is one pixel of pixel_size bytes; pixels outside the region are copied, a fourth byte is
// copied. Single precision without contraction, floored modulo, rounding to nearest even, so
// that the colour step gives the CPU path's bytes.
#pragma OPENCL FP_CONTRACT OFF

float FlooredMod(float a, float b) { return a - b * floor(a / b); }

uchar ToByte(float value) { return (uchar)clamp(rint(value), 0.0f, 255.0f); }

void AdjustHLS(__global const uchar* in, float* out, float hue, float saturation, float lightness)
{
    const float first = (float)in[0] / 255.0f, second = (float)in[1] / 255.0f, third = (float)in[2] / 255.0f;
    const float maximum = fmax(first, fmax(second, third));
    const float minimum = fmin(first, fmin(second, third));
    const float chroma = maximum - minimum;
    float l = (maximum + minimum) / 2.0f;
    float h = 0.0f, s = 0.0f;
    if (chroma != 0.0f) {
        s = chroma / (1.0f - fabs(2.0f * l - 1.0f));
        if (maximum == first) h = FlooredMod((second - third) / chroma, 6.0f);
        else if (maximum == second) h = (third - first) / chroma + 2.0f;
        else h = (first - second) / chroma + 4.0f;
        h = h * 60.0f / 360.0f;
    }
    h = FlooredMod(h + hue, 1.0f);
    l = fmin(l * lightness, 1.0f);
    s = fmin(s * saturation, 1.0f);
    const float degrees = h * 360.0f;
    const float c = (1.0f - fabs(2.0f * l - 1.0f)) * s;
    const float x = c * (1.0f - fabs(FlooredMod(degrees / 60.0f, 2.0f) - 1.0f));
    const float m = l - c / 2.0f;
    float a, b, d;
    if (degrees < 60.0f) { a = c; b = x; d = 0.0f; }
    else if (degrees < 120.0f) { a = x; b = c; d = 0.0f; }
    else if (degrees < 180.0f) { a = 0.0f; b = c; d = x; }
    else if (degrees < 240.0f) { a = 0.0f; b = x; d = c; }
    else if (degrees < 300.0f) { a = x; b = 0.0f; d = c; }
    else { a = c; b = 0.0f; d = x; }
    out[0] = (float)ToByte((a + m) * 255.0f);
    out[1] = (float)ToByte((b + m) * 255.0f);
    out[2] = (float)ToByte((d + m) * 255.0f);
}

__kernel void ImageAdjust(__global const uchar* in_buffer, __global uchar* out_buffer, uint step, uchar pixel_size,
                          float brightness, float contrast, float saturation, float hue, float lightness,
                          uint ARoiX, uint ARoiY, uint ARoiWidth, uint ARoiHeight)
{
    const uint x = get_global_id(0), y = get_global_id(1);
    const uint i = y * step + x * pixel_size;
    if (x < ARoiX || x >= ARoiX + ARoiWidth || y < ARoiY || y >= ARoiY + ARoiHeight) {
        for (uint k = 0; k < pixel_size; ++k) out_buffer[i + k] = in_buffer[i + k];
        return;
    }
    float v[3];
    AdjustHLS(in_buffer + i, v, hue, saturation, lightness);
    for (uint k = 0; k < 3; ++k) out_buffer[i + k] = ToByte(v[k] * contrast + brightness * 255.0f);
    if (pixel_size == 4) out_buffer[i + 3] = in_buffer[i + 3];
}

__kernel void ImageAdjust_NoHLS(__global const uchar* in_buffer, __global uchar* out_buffer, uint step,
                                uchar pixel_size, float brightness, float contrast,
                                uint ARoiX, uint ARoiY, uint ARoiWidth, uint ARoiHeight)
{
    const uint x = get_global_id(0), y = get_global_id(1);
    const uint i = y * step + x * pixel_size;
    if (x < ARoiX || x >= ARoiX + ARoiWidth || y < ARoiY || y >= ARoiY + ARoiHeight) {
        for (uint k = 0; k < pixel_size; ++k) out_buffer[i + k] = in_buffer[i + k];
        return;
    }
    for (uint k = 0; k < 3; ++k) out_buffer[i + k] = ToByte((float)in_buffer[i + k] * contrast + brightness * 255.0f);
    if (pixel_size == 4) out_buffer[i + 3] = in_buffer[i + 3];
}
