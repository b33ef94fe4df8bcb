// Rounding as the bridge and the simulators agree on it: to a number of
// decimals, with halves going to the even neighbour.
#pragma once

namespace taltrix {

// x rounded to `decimals` decimals (0 to 9), halves to even. A half is judged
// on the shortest decimal text that reads back as x, so 2.675 (stored in
// binary as 2.67499999...) counts as the half it was written as.
double roundHalfEven(double x, int decimals);

}  // namespace taltrix
