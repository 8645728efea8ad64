// Numeric helpers of the runtime shared by the trigonometric natives.
#pragma once

namespace math {

// Degrees to radians, after folding the angle into the range the function expects:
// mode 0 for sine-like, 1 for tangent-like (no fold past 90), 2 for cosine-like functions.
double degrees_normalise(double x, int mode);

} // namespace math
