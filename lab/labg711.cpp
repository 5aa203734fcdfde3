#include "lab/labg711.h"

namespace LabG711 {

quint8 linearToUlaw(qint16 sample)
{
    constexpr int Bias = 0x84;
    constexpr int Clip = 32635;
    int s = sample;
    const int sign = s < 0 ? 0x80 : 0;
    if (s < 0)
        s = -s;
    if (s > Clip)
        s = Clip;
    s += Bias;
    int exponent = 7;
    for (int mask = 0x4000; (s & mask) == 0 && exponent > 0; mask >>= 1)
        --exponent;
    const int mantissa = (s >> (exponent + 3)) & 0x0F;
    return quint8(~(sign | (exponent << 4) | mantissa));
}

qint16 ulawToLinear(quint8 code)
{
    const int u = ~code & 0xFF;
    const int exponent = (u >> 4) & 0x07;
    const int mantissa = u & 0x0F;
    const int magnitude = (((mantissa << 3) + 0x84) << exponent) - 0x84;
    return qint16((u & 0x80) ? -magnitude : magnitude);
}

quint8 linearToAlaw(qint16 sample)
{
    int s = sample;
    // A-law carries 13 bits; the sign bit is set for positive values.
    int sign = 0x80;
    if (s < 0) {
        sign = 0;
        s = -s - 1;
    }
    s >>= 3;
    if (s > 0x0FFF)
        s = 0x0FFF;
    int code;
    if (s < 32) {
        code = s >> 1;
    } else {
        int exponent = 1;
        for (int v = s >> 5; v > 1; v >>= 1)
            ++exponent;
        code = (exponent << 4) | ((s >> exponent) & 0x0F);
    }
    return quint8((sign | code) ^ 0x55);
}

qint16 alawToLinear(quint8 code)
{
    const int a = code ^ 0x55;
    const int exponent = (a >> 4) & 0x07;
    const int mantissa = a & 0x0F;
    int magnitude = exponent == 0 ? (mantissa << 4) + 8 : ((mantissa << 4) + 0x108) << (exponent - 1);
    return qint16((a & 0x80) ? magnitude : -magnitude);
}

} // namespace LabG711
