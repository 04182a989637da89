// The elementary functions Brastow's arithmetic uses, from the system C runtime.
//
// mingw-w64 links its own sin and cos from its static libmingwex ahead of the C
// runtime DLL's. Those use the x87 fsin and fcos instructions, whose argument reduction
// works with a 66-bit pi: next to a zero of the function they are off in the sixth digit
// (cos of 90 degrees), large arguments lose digits and beyond about 1e15 degrees the
// results are plainly wrong. The C runtime DLL's functions reduce exactly and are
// correctly rounded or within one unit in the last place for every finite double; so
// are MSVC's static C runtime's, which an MSVC build uses.
#pragma once

namespace crt {

double sin(double x);
double cos(double x);
double atan(double x);
// The processor's IEEE square root (correctly rounded by definition).
double sqrt(double x);

} // namespace crt
