#include "ZoomSteps.h"

#include <array>
#include <cmath>

namespace zerbrak {
namespace {

constexpr std::array stops{0.25, 1.0 / 3.0, 0.5, 2.0 / 3.0, 1.0, 1.5, 2.0, 3.0, 4.0, 6.0, 8.0};

// A zoom read back from a drawn size carries rounding: one this close to a stop is at it.
bool above(double stop, double zoom) {
    return stop > zoom * (1.0 + 1e-6);
}

} // namespace

double zoomedIn(double zoom) {
    if (!std::isfinite(zoom) || zoom <= 0.0) {
        return zoom;
    }
    for (const double stop : stops) {
        if (above(stop, zoom)) {
            return stop;
        }
    }
    return zoom;
}

double zoomedOut(double zoom) {
    if (!std::isfinite(zoom) || zoom <= 0.0) {
        return zoom;
    }
    for (auto stop = stops.rbegin(); stop != stops.rend(); ++stop) {
        if (above(zoom, *stop)) {
            return *stop;
        }
    }
    return zoom;
}

} // namespace zerbrak
