#include "resample/kernels.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "resample/filter_table.h"
#include "resample/resample.h"

namespace {

constexpr double kHalfPi = 1.5707963267948966;
constexpr double kPiSquaredOver4 = 2.4674011002723395;
constexpr double kSqrt2 = 1.4142135623730951;
constexpr double kSincReach = 4.0;
constexpr double kGaussianReach = 3.0;
constexpr double kWideGaussianReach = 4.242640687119286;  // 3·√2

// Below this distance from 0 the sinc is taken as exactly 1.
constexpr double kSincCentre = 1e-7;

double SincRadius(double width) {
  return 2.0 * width;
}
double GaussianRadius(double width) {
  return 1.5 * width;
}

}  // namespace

double KernelReach(KernelKind kernel) {
  switch (kernel) {
    case kKernelGaussian:
      return kGaussianReach;
    case kKernelWideGaussian:
      return kWideGaussianReach;
    default:
      return kSincReach;
  }
}

int64_t MaxTapsForScale(KernelKind kernel, double scale) {
  if (!(scale > 0.0)) return -1;  // also refuses NaN
  double reach = KernelReach(kernel);
  if (scale >= 1.0) return int64_t(std::ceil(reach));
  double taps = std::ceil(reach / scale);
  // Beyond anything a table can hold; the caller refuses it.
  if (taps > double(INT32_MAX)) return int64_t(INT32_MAX) + 1;
  return int64_t(taps);
}

int64_t TableTapsForScale(KernelKind kernel, double scale, int32_t outputCount, double x0,
                          double dx) {
  const int64_t taps = MaxTapsForScale(kernel, scale);
  if (taps < 1 || taps > kMaxFilterTaps) return taps;
  // The same geometry as the setups below, with width 1.
  const double radius = kernel == kKernelGaussian       ? GaussianRadius(1.0)
                        : kernel == kKernelWideGaussian ? GaussianRadius(1.0 * kSqrt2)
                                                        : SincRadius(1.0);
  const double s = std::min(scale, 1.0);
  return std::max(taps, CountMaxTaps(radius, outputCount, x0, dx, s));
}

double Pow2(double x) {
  return std::exp(x * std::numbers::ln2);
}

double EvaluateSinc(const KernelParams& params, int32_t n, double o, double m, double* out) {
  const double cosTheta = params.first;
  const double sinTheta = params.second;
  const double inverseWidth = params.third;
  double t = o * inverseWidth;
  const double step = m * inverseWidth;
  const double phi = kHalfPi * t;
  double sinPhi = std::sin(phi);
  double cosPhi = std::cos(phi);
  double sum = 0.0;
  for (int32_t k = 0; k < n; ++k) {
    double value = 1.0;
    if (std::fabs(t) >= kSincCentre) {
      value = sinPhi * sinPhi * cosPhi / (t * t * kPiSquaredOver4);
    }
    out[k] = value;
    sum += value;
    t += step;
    const double nextCos = cosPhi * cosTheta - sinPhi * sinTheta;
    const double nextSin = cosPhi * sinTheta + sinPhi * cosTheta;
    cosPhi = nextCos;
    sinPhi = nextSin;
  }
  return sum;
}

double EvaluateGaussian(const KernelParams& params, int32_t n, double o, double m, double* out) {
  const double c = params.first;
  const double q = params.third;
  double v = Pow2(c * (o * o));
  double r = Pow2(c * m * (2.0 * o + m));
  double sum = 0.0;
  for (int32_t k = 0; k < n; ++k) {
    out[k] = v;
    sum += v;
    v = v * r;
    r = r * q;
  }
  return sum;
}

void SetupSincFilter(int32_t mode, int32_t maxTaps, int32_t outputCount, int32_t sourceLength,
                     double x0, double scale, double dx, double width, double* scratch,
                     int16_t* table) {
  const double s = std::min(scale, 1.0);
  const double theta = kHalfPi * s / width;
  const KernelParams params{std::cos(theta), std::sin(theta), 1.0 / width};
  const double radius = SincRadius(width);
  BuildFilterTable(EvaluateSinc, radius, params, mode, maxTaps, outputCount, sourceLength, x0, dx,
                   s, scratch, table);
}

void SetupGaussianFilter(int32_t mode, int32_t maxTaps, int32_t outputCount, int32_t sourceLength,
                         double x0, double scale, double dx, double width, double* scratch,
                         int16_t* table) {
  const double s = std::min(scale, 1.0);
  const double c = -4.0 / (width * width);
  const KernelParams params{c, s, Pow2(2.0 * c * (s * s))};
  const double radius = GaussianRadius(width);
  BuildFilterTable(EvaluateGaussian, radius, params, mode, maxTaps, outputCount, sourceLength, x0,
                   dx, s, scratch, table);
}

void SetupWideGaussianFilter(int32_t mode, int32_t maxTaps, int32_t outputCount,
                             int32_t sourceLength, double x0, double scale, double dx, double width,
                             double* scratch, int16_t* table) {
  SetupGaussianFilter(mode, maxTaps, outputCount, sourceLength, x0, scale, dx, width * kSqrt2,
                      scratch, table);
}

FilterSetup FilterSetupForKernel(KernelKind kernel) {
  switch (kernel) {
    case kKernelGaussian:
      return SetupGaussianFilter;
    case kKernelWideGaussian:
      return SetupWideGaussianFilter;
    default:
      return SetupSincFilter;
  }
}
