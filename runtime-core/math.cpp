#include "runtime-core/math.h"

#include <cmath>
#include <numbers>

namespace math {

double degrees_normalise(double x, int mode) {
    double y = std::fmod(x, 360.0);
    if (y > 180.0 || y < -180.0) y += y >= 0.0 ? -360.0 : 360.0;
    if (y > 90.0 || y < -90.0) {
        if (mode == 0)
            y += y >= 0.0 ? -180.0 : 180.0;
        else if (mode == 2)
            y = y >= 0.0 ? 180.0 - y : -180.0 - y;
    }
    return y * std::numbers::pi / 180.0;
}

} // namespace math
