// Stub of the SDK's <math.h> for libc++'s headers (see stdlib.h here): the classification
// macros over clang's builtins, and each function in its double, float and long double forms.
#pragma once

typedef float float_t;
typedef double double_t;
#define FP_NAN 1
#define FP_INFINITE 2
#define FP_ZERO 3
#define FP_NORMAL 4
#define FP_SUBNORMAL 5
#define fpclassify(x) __builtin_fpclassify(FP_NAN, FP_INFINITE, FP_NORMAL, FP_SUBNORMAL, FP_ZERO, x)
#define signbit(x) __builtin_signbit(x)
#define isfinite(x) __builtin_isfinite(x)
#define isinf(x) __builtin_isinf(x)
#define isnan(x) __builtin_isnan(x)
#define isnormal(x) __builtin_isnormal(x)
#define isgreater(x, y) __builtin_isgreater(x, y)
#define isgreaterequal(x, y) __builtin_isgreaterequal(x, y)
#define isless(x, y) __builtin_isless(x, y)
#define islessequal(x, y) __builtin_islessequal(x, y)
#define islessgreater(x, y) __builtin_islessgreater(x, y)
#define isunordered(x, y) __builtin_isunordered(x, y)
#ifdef __cplusplus
extern "C" {
#endif
// The double, float and long double forms of one function: return types, then argument lists.
#define __MATH_FORMS(name, R, Rf, Rl, A, Af, Al) \
  R name A;                                      \
  Rf name##f Af;                                 \
  Rl name##l Al;
#define __MATH_1(name) \
  __MATH_FORMS(name, double, float, long double, (double), (float), (long double))
#define __MATH_2(name)                                                             \
  __MATH_FORMS(name, double, float, long double, (double, double), (float, float), \
               (long double, long double))

// clang-format off
__MATH_1(acos) __MATH_1(asin) __MATH_1(atan) __MATH_1(cos) __MATH_1(sin) __MATH_1(tan)
__MATH_1(acosh) __MATH_1(asinh) __MATH_1(atanh) __MATH_1(cosh) __MATH_1(sinh) __MATH_1(tanh)
__MATH_1(exp) __MATH_1(exp2) __MATH_1(expm1) __MATH_1(log) __MATH_1(log10) __MATH_1(log2)
__MATH_1(log1p) __MATH_1(logb) __MATH_1(fabs) __MATH_1(cbrt) __MATH_1(sqrt) __MATH_1(erf)
__MATH_1(erfc) __MATH_1(lgamma) __MATH_1(tgamma) __MATH_1(ceil) __MATH_1(floor)
__MATH_1(nearbyint) __MATH_1(rint) __MATH_1(round) __MATH_1(trunc)
__MATH_2(atan2) __MATH_2(hypot) __MATH_2(pow) __MATH_2(fmod) __MATH_2(remainder)
__MATH_2(copysign) __MATH_2(nextafter) __MATH_2(fdim) __MATH_2(fmax) __MATH_2(fmin)
__MATH_FORMS(fma, double, float, long double, (double, double, double), (float, float, float),
             (long double, long double, long double))
__MATH_FORMS(frexp, double, float, long double, (double, int*), (float, int*), (long double, int*))
__MATH_FORMS(ldexp, double, float, long double, (double, int), (float, int), (long double, int))
__MATH_FORMS(modf, double, float, long double, (double, double*), (float, float*),
             (long double, long double*))
__MATH_FORMS(remquo, double, float, long double, (double, double, int*), (float, float, int*),
             (long double, long double, int*))
__MATH_FORMS(scalbn, double, float, long double, (double, int), (float, int), (long double, int))
__MATH_FORMS(scalbln, double, float, long double, (double, long), (float, long),
             (long double, long))
__MATH_FORMS(nexttoward, double, float, long double, (double, long double), (float, long double),
             (long double, long double))
__MATH_FORMS(ilogb, int, int, int, (double), (float), (long double))
__MATH_FORMS(lrint, long, long, long, (double), (float), (long double))
__MATH_FORMS(lround, long, long, long, (double), (float), (long double))
__MATH_FORMS(llrint, long long, long long, long long, (double), (float), (long double))
__MATH_FORMS(llround, long long, long long, long long, (double), (float), (long double))
// clang-format on
#undef __MATH_1
#undef __MATH_2
#undef __MATH_FORMS
#ifdef __cplusplus
}
#endif
