// The structural similarity of two pictures of one size and format, as
// Wang, Bovik, Sheikh and Simoncelli define it (IEEE Trans. Image Process.
// 13(4), 2004): each colour channel's local means, variances and
// covariance under an 11 x 11 Gaussian window of sigma 1.5, the constants
// (0.01 L)^2 and (0.03 L)^2 for samples of range L (255, or 65535 for
// 16-bit ones), the index averaged over every pixel whose window lies
// inside the picture (over every pixel, edges repeated, for a picture
// under 11 pixels a side), then over red, green and blue. Alpha is not
// compared itself, but both pictures' colours are first weighted by b's
// alpha: b is the decoded file, and the colours an encoder may change
// under its transparent pixels are seen by no one. The window's moments are sums of integers with
// integer weights, exact; the rest is a fixed sequence of double operations, so the score is the
// same on every machine.
#pragma once

#include "base/pixel_view.h"

// 1 for identical colours; lower the more they differ. Both views hold
// 32-bit ARGB (native words), or 16-bit samples in stored order ("b48r",
// "b64a"); 0 when they differ in size or format.
double StructuralSimilarity(const PixelView& a, const PixelView& b);
