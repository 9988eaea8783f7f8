#pragma once

namespace zerbrak {

struct SizeD {
    double width;
    double height;
};

// The size a picture of w by h is drawn at to fit bounds of W by H: scaled down by the
// tighter ratio when it does not fit, scaled up only by a whole factor, and only when it fits
// at least twice over. The ratios are single precision, so a scaled-down size is in general
// not a whole number and a second fit may shrink it by a few single-precision units.
//
// A size the rule has no answer for (an empty or non-finite picture, a ratio that is infinite
// or not a number, a whole factor beyond 32 bits) is returned unchanged.
SizeD fitSize(double w, double h, double W, double H);

} // namespace zerbrak
