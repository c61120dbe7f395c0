// The DSP's 24-bit coefficient word and a band's words in sending order (where they go in the
// coefficient memory: EqBands.h).
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "filters/Biquad.h"
#include "filters/EqBands.h"

namespace qubix::filters {

// floor(c · 2²²) modulo 2²⁴ (22 fractional bits, two's complement), in the low 24 bits.
// Rounds towards minus infinity: −0.5·2⁻²² gives 0xFFFFFF. No clipping: callers send only
// coefficients that passed the range check. NaN or values far outside ±2 give 0 or a wrapped
// word but never undefined behaviour.
std::uint32_t CoefficientToWord(double c);

// The same word after the coefficient was stored as a 32-bit float (the user preset store
// converts that float; its words may differ from the live ones in the last bit).
std::uint32_t StoredCoefficientToWord(float c);

// The coefficient a word stands for: the word as a signed 24-bit number over 2²², so that
// WordToCoefficient(CoefficientToWord(c)) is c rounded down to the DSP's step.
double WordToCoefficient(std::uint32_t word);

// The section the DSP really runs: each coefficient as its word holds it.
BiquadCoefficients QuantizedCoefficients(const BiquadCoefficients& c);

// Three bytes, most significant first.
std::array<std::uint8_t, 3> WordBytes(std::uint32_t word);

// Six upper-case hexadecimal digits, e.g. "42D64A".
std::string WordText(std::uint32_t word);

// The five words of a band in sending order b2, b0, b1, a2, a1.
std::array<std::uint32_t, 5> BandWords(const BiquadCoefficients& c);
// Fifteen bytes: the five words of BandWords, each most significant byte first.
std::array<std::uint8_t, 15> BandWordBytes(const BiquadCoefficients& c);

}  // namespace qubix::filters
