#!/usr/bin/env python3
"""Prints the constant tables of src/foundation/power.cpp (needs mpmath).

Logarithm: for the top 7 mantissa bits i of a float's mantissa m in [1, 2), the
inverse of the interval centre rounded to 24 bits (so m * inverse is exact in
double) and -log2(inverse) rounded to double. Exponential: 2^(j/128).
"""
import mpmath

mpmath.mp.prec = 200


def hexdouble(value):
    return float(value).hex()


def round_to_bits(value, bits):
    m, e = mpmath.frexp(value)  # value = m * 2^e, m in [0.5, 1)
    scaled = mpmath.nint(m * 2**bits)
    return mpmath.ldexp(scaled, e - bits)


print("// inverse, -log2(inverse)")
for i in range(128):
    centre = 1 + (mpmath.mpf(i) + mpmath.mpf("0.5")) / 128
    inverse = round_to_bits(1 / centre, 24)
    print("    {%s, %s}," % (hexdouble(inverse), hexdouble(-mpmath.log(inverse, 2))))

print("// 2^(j/128)")
for j in range(128):
    print("    %s," % hexdouble(mpmath.power(2, mpmath.mpf(j) / 128)))
