// The three continuous kernels, their per-direction parameter blocks and the
// recurrences that sample them at equally spaced positions.
#pragma once

#include <cstdint>

#include "resample/resample.h"

// Three doubles computed once per direction. Sinc: cos θ, sin θ, 1/w (θ the
// phase step between taps). Gaussians: c = -4/w², s, q = 2^(2·c·s²).
struct KernelParams {
  double first = 0.0;
  double second = 0.0;
  double third = 0.0;
};

// Writes out[k] = K(o + k·m) for k = 0 … n-1 and returns their sum.
using KernelEvaluator = double (*)(const KernelParams& params, int32_t n, double o, double m,
                                   double* out);

// Reach D of a kernel: twice its support radius; sizes the tables and ring.
double KernelReach(KernelKind kernel);

// Maximum taps per output sample for a direction of the given scale, or -1
// when the scale is not a positive number.
int64_t MaxTapsForScale(KernelKind kernel, double scale);

// Maximum taps for a table of outputCount samples at x0 + i·dx: MaxTapsForScale,
// or one more where the rounding of the tap positions reaches both ends of
// the support. -1 for a scale that is not a positive number.
int64_t TableTapsForScale(KernelKind kernel, double scale, int32_t outputCount, double x0,
                          double dx);

double Pow2(double x);  // exp(x·ln 2)

double EvaluateSinc(const KernelParams& params, int32_t n, double o, double m, double* out);
double EvaluateGaussian(const KernelParams& params, int32_t n, double o, double m, double* out);

// Each builds one direction's filter table (see BuildFilterTable), output
// sample i at x0 + i·dx, the kernel widened by 1/s, s = min(scale, 1).
// With corners aligned scale is (output length - 1) / (input length - 1)
// and dx = 1/scale; with centres scale is output length / input length and
// dx = input length / output length (sample_positions.h).
void SetupSincFilter(int32_t mode, int32_t maxTaps, int32_t outputCount, int32_t sourceLength,
                     double x0, double scale, double dx, double width, double* scratch,
                     int16_t* table);
void SetupGaussianFilter(int32_t mode, int32_t maxTaps, int32_t outputCount, int32_t sourceLength,
                         double x0, double scale, double dx, double width, double* scratch,
                         int16_t* table);
void SetupWideGaussianFilter(int32_t mode, int32_t maxTaps, int32_t outputCount,
                             int32_t sourceLength, double x0, double scale, double dx, double width,
                             double* scratch, int16_t* table);

// The setup for a KernelKind: anything but 1 and 2 is the sinc.
using FilterSetup = void (*)(int32_t mode, int32_t maxTaps, int32_t outputCount,
                             int32_t sourceLength, double x0, double scale, double dx, double width,
                             double* scratch, int16_t* table);
FilterSetup FilterSetupForKernel(KernelKind kernel);
