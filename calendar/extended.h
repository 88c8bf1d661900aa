// Extended-precision arithmetic (x87, 64-bit significand) whose invalid operations, divisions by
// zero and overflows raise EInvalidOp, EZeroDivide and EOverflow by explicit tests, so every build
// gives the same results and failures whatever the processor's exception masks.
#pragma once

#include <cfloat>
#include <cstdint>

static_assert(LDBL_MANT_DIG == 64, "date arithmetic needs the x87 extended format");

namespace autobackup {

// The x87 control word the program computes under: round to nearest, 64-bit significand, every
// exception masked (the failures come from the explicit tests here instead).
constexpr uint16_t kDefaultFpuControlWord = 0x133F;

// Resets the x87 unit and loads kDefaultFpuControlWord.
void LoadDefaultFpuControlWord();

bool IsSignallingNaN(double x);
bool IsSignallingNaN(long double x);

// A double widened to extended; a signalling NaN raises EInvalidOp, as loading it would.
long double Extend(double x);
// An extended value rounded to a double where it is stored or returned; a finite value too large
// for a double raises EOverflow.
double Narrow(long double x);

// The four operations; a quiet NaN operand gives a quiet NaN, as the hardware does.
long double Add(long double a, long double b);
long double Subtract(long double a, long double b);
long double Multiply(long double a, long double b);
long double Divide(long double a, long double b);

// Ordered comparisons: any NaN operand raises EInvalidOp.
bool Less(long double a, long double b);
bool LessOrEqual(long double a, long double b);

}  // namespace autobackup
