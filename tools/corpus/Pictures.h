#pragma once

#include <QImage>

namespace corpus {

// Pictures painted from fixed formulas, so the corpus is the same on every run.
QImage photoLike(int width, int height);
QImage smoothGradient(int width, int height);
QImage withAlpha(int width, int height);
QImage fewColours(int width, int height);
QImage noise(int width, int height);
QImage deepGradient(int width, int height); // 16 bits a channel, with alpha

} // namespace corpus
