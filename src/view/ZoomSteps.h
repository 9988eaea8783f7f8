#pragma once

namespace zerbrak {

// Zoom in and out go from stop to stop, 25 % to 800 %, so that stepping always comes back to
// 100 % exactly, whatever size Fit left the picture at. A zoom is the drawn size over the
// picture's own.

// The first stop above `zoom`; `zoom` itself when it is at or past the last.
double zoomedIn(double zoom);
// The last stop below `zoom`; `zoom` itself when it is at or below the first.
double zoomedOut(double zoom);

} // namespace zerbrak
