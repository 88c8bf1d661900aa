#include "calendar/extended.h"

#include <cmath>
#include <cstring>

#include "failure/failures.h"

namespace autobackup {

void LoadDefaultFpuControlWord() {
  const uint16_t word = kDefaultFpuControlWord;
  __asm__ volatile("fninit\n\tfldcw %0" : : "m"(word));
}

bool IsSignallingNaN(double x) {
  uint64_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  return std::isnan(x) && (bits & (UINT64_C(1) << 51)) == 0;
}

bool IsSignallingNaN(long double x) {
  // The x87 format: 64-bit significand with an explicit integer bit; bit 62 is the quiet bit.
  uint64_t significand;
  std::memcpy(&significand, &x, sizeof significand);
  return std::isnan(x) && (significand & (UINT64_C(1) << 62)) == 0;
}

namespace {

[[noreturn]] void RaiseInvalidOp() {
  Raise<EInvalidOp>(StringId::InvalidOp);
}

// Classifies the result of one operation on operands a and b.
long double Checked(long double result, long double a, long double b) {
  // A finite result had no NaN operand and no overflow: nothing to classify.
  if (std::isfinite(result)) {
    return result;
  }
  if (IsSignallingNaN(a) || IsSignallingNaN(b)) {
    RaiseInvalidOp();
  }
  if (std::isnan(result) && !std::isnan(a) && !std::isnan(b)) {
    RaiseInvalidOp();  // inf - inf, 0 * inf, 0 / 0, inf / inf
  }
  if (std::isinf(result) && std::isfinite(a) && std::isfinite(b)) {
    Raise<EOverflow>(StringId::Overflow);
  }
  return result;
}

}  // namespace

long double Extend(double x) {
  if (IsSignallingNaN(x)) {
    RaiseInvalidOp();
  }
  return x;
}

double Narrow(long double x) {
  if (IsSignallingNaN(x)) {
    RaiseInvalidOp();
  }
  const double result = static_cast<double>(x);
  if (std::isinf(result) && std::isfinite(x)) {
    Raise<EOverflow>(StringId::Overflow);
  }
  return result;
}

long double Add(long double a, long double b) {
  return Checked(a + b, a, b);
}

long double Subtract(long double a, long double b) {
  return Checked(a - b, a, b);
}

long double Multiply(long double a, long double b) {
  return Checked(a * b, a, b);
}

long double Divide(long double a, long double b) {
  if (b == 0 && !std::isnan(a)) {
    if (a == 0) {
      RaiseInvalidOp();
    }
    if (std::isfinite(a)) {
      Raise<EZeroDivide>(StringId::ZeroDivide);
    }
    // An infinity over zero stays an infinity, as on the hardware.
  }
  return Checked(a / b, a, b);
}

bool Less(long double a, long double b) {
  if (std::isnan(a) || std::isnan(b)) {
    RaiseInvalidOp();
  }
  return a < b;
}

bool LessOrEqual(long double a, long double b) {
  if (std::isnan(a) || std::isnan(b)) {
    RaiseInvalidOp();
  }
  return a <= b;
}

}  // namespace autobackup
