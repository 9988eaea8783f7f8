// Paints the two start images shipped in resources/. They are the first thing a user
// sees and the first thing they break, so they carry a bit of everything a decoder can
// trip over: smooth gradients, fine texture, saturated colour and hard edges.
//
// Everything is computed from fixed constants and an integer hash, so running this again
// reproduces the committed files byte for byte (for a given Qt and zlib/libjpeg).

#include <QImage>
#include <QString>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <numbers>
#include <thread>
#include <vector>

namespace {

struct Rgb {
    double r = 0, g = 0, b = 0;
};

Rgb operator+(Rgb a, Rgb b) {
    return {a.r + b.r, a.g + b.g, a.b + b.b};
}
Rgb operator*(Rgb a, double s) {
    return {a.r * s, a.g * s, a.b * s};
}
Rgb mix(Rgb a, Rgb b, double t) {
    return a * (1.0 - t) + b * t;
}

double clamp01(double v) {
    return std::clamp(v, 0.0, 1.0);
}
double smoothstep(double e0, double e1, double x) {
    const double t = clamp01((x - e0) / (e1 - e0));
    return t * t * (3.0 - 2.0 * t);
}

int toByte(double v) {
    // A touch of gamma so the dark ends of the palettes keep some separation.
    return static_cast<int>(std::lround(std::pow(clamp01(v), 1.0 / 1.1) * 255.0));
}

// Cosine palette: cheap, smooth and easy to steer towards a colour scheme.
Rgb palette(double t, Rgb a, Rgb b, Rgb c, Rgb d) {
    constexpr double tau = 2.0 * std::numbers::pi;
    return {a.r + b.r * std::cos(tau * (c.r * t + d.r)),
            a.g + b.g * std::cos(tau * (c.g * t + d.g)),
            a.b + b.b * std::cos(tau * (c.b * t + d.b))};
}

std::uint32_t hash(std::uint32_t x) {
    x ^= x >> 16;
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
    x ^= x >> 16;
    return x;
}

std::uint32_t hash2(int x, int y) {
    return hash(static_cast<std::uint32_t>(x) * 0x9e3779b9U ^ hash(static_cast<std::uint32_t>(y)));
}

double unit(std::uint32_t h) {
    return static_cast<double>(h) / 4294967296.0;
}

// Gradient noise in [-1, 1] roughly.
double noise(double x, double y) {
    const double fx = std::floor(x), fy = std::floor(y);
    const int ix = static_cast<int>(fx), iy = static_cast<int>(fy);
    const double tx = x - fx, ty = y - fy;
    auto grad = [](int gx, int gy, double dx, double dy) {
        const double a = unit(hash2(gx, gy)) * 2.0 * std::numbers::pi;
        return std::cos(a) * dx + std::sin(a) * dy;
    };
    const double ux = tx * tx * tx * (tx * (tx * 6.0 - 15.0) + 10.0);
    const double uy = ty * ty * ty * (ty * (ty * 6.0 - 15.0) + 10.0);
    const double n00 = grad(ix, iy, tx, ty);
    const double n10 = grad(ix + 1, iy, tx - 1.0, ty);
    const double n01 = grad(ix, iy + 1, tx, ty - 1.0);
    const double n11 = grad(ix + 1, iy + 1, tx - 1.0, ty - 1.0);
    return 1.4 * (n00 + (n10 - n00) * ux + (n01 - n00) * uy + (n00 - n10 - n01 + n11) * ux * uy);
}

double fbm(double x, double y, int octaves) {
    double sum = 0.0, amp = 0.5;
    for (int i = 0; i < octaves; ++i) {
        sum += amp * noise(x, y);
        // Rotate between octaves so the lattice never lines up into visible rows.
        const double nx = 1.6 * x - 1.2 * y + 3.1;
        const double ny = 1.2 * x + 1.6 * y - 1.7;
        x = nx;
        y = ny;
        amp *= 0.5;
    }
    return sum;
}

// Rows are independent, so hand out interleaved rows to every core; the fractal with
// supersampling takes tens of seconds on one.
void renderRows(QImage& img, const std::function<Rgb(double, double)>& shade, int samples) {
    const int w = img.width(), h = img.height();
    const unsigned cores = std::max(1U, std::thread::hardware_concurrency());
    std::vector<std::jthread> workers;
    for (unsigned t = 0; t < cores; ++t) {
        workers.emplace_back([&, t] {
            for (int y = static_cast<int>(t); y < h; y += static_cast<int>(cores)) {
                auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
                for (int x = 0; x < w; ++x) {
                    Rgb acc;
                    for (int sy = 0; sy < samples; ++sy) {
                        for (int sx = 0; sx < samples; ++sx) {
                            const double px = x + (sx + 0.5) / samples;
                            const double py = y + (sy + 0.5) / samples;
                            acc = acc + shade(px, py);
                        }
                    }
                    acc = acc * (1.0 / (samples * samples));
                    line[x] = qRgb(toByte(acc.r), toByte(acc.g), toByte(acc.b));
                }
            }
        });
    }
}

// --- Zerbrak.png: a deep look into the Mandelbrot set's seahorse valley. ----------------

QImage paintFractal(int w, int h) {
    QImage img(w, h, QImage::Format_RGB32);
    const double cx = -0.7436438870371587, cy = 0.1318259042053119;
    const double span = 0.0019; // width of the view in the complex plane
    const double scale = span / w;
    constexpr int maxIter = 3000;

    const auto shade = [&](double px, double py) -> Rgb {
        // Slight rotation so the spiral arms run diagonally across the frame.
        const double u = (px - w * 0.58) * scale, v = (py - h * 0.55) * scale;
        const double rot = 0.55;
        const double cr = cx + u * std::cos(rot) - v * std::sin(rot);
        const double ci = cy + u * std::sin(rot) + v * std::cos(rot);
        double zr = 0, zi = 0, dr = 0, di = 0; // z and dz/dc for the distance estimate
        int i = 0;
        double r2 = 0;
        for (; i < maxIter; ++i) {
            const double ndr = 2.0 * (zr * dr - zi * di) + 1.0;
            const double ndi = 2.0 * (zr * di + zi * dr);
            dr = ndr;
            di = ndi;
            const double nzr = zr * zr - zi * zi + cr;
            zi = 2.0 * zr * zi + ci;
            zr = nzr;
            r2 = zr * zr + zi * zi;
            if (r2 > 1e8)
                break;
        }
        if (i == maxIter)
            return {0.015, 0.01, 0.03}; // the set itself: a hard, near-black edge
        const double r = std::sqrt(r2);
        const double smooth = i + 1.0 - std::log2(std::log(r));
        const double dist = r * std::log(r) / std::hypot(dr, di) / scale; // in pixels
        const double t = std::log(smooth) * 1.35;
        Rgb col =
            palette(t, {0.5, 0.45, 0.5}, {0.5, 0.45, 0.45}, {1.0, 1.0, 1.0}, {0.02, 0.18, 0.38});
        // Near the set the iteration count changes every pixel; give those filaments a
        // faster, hotter palette of their own so they read as colour rather than grey noise.
        const double glow = std::exp(-dist / 4.0);
        const Rgb hot = palette(smooth * 0.045, {0.6, 0.5, 0.5}, {0.4, 0.45, 0.5}, {1.0, 1.0, 1.0},
                                {0.0, 0.1, 0.2});
        col = mix(col, hot, glow);
        const double outline = std::pow(clamp01(dist / 0.5), 0.5);
        return col * (0.45 + 0.55 * outline);
    };
    renderRows(img, shade, 3);
    return img;
}

// --- Salt and Tinder.jpg: smouldering domain-warped smoke scattered with salt crystals. --

struct Cell {
    double dist = 1e9; // distance to the nearest site
    double edge = 1e9; // distance to the border with the second-nearest site
    double room = 1e9; // radius of the largest circle around the site inside its cell
    std::uint32_t id = 0;
    double ox = 0, oy = 0; // position relative to the nearest site
};

Cell voronoi(double x, double y) {
    const int ix = static_cast<int>(std::floor(x)), iy = static_cast<int>(std::floor(y));
    Cell best;
    double bx = 0, by = 0;
    for (int j = -1; j <= 1; ++j) {
        for (int i = -1; i <= 1; ++i) {
            const std::uint32_t h = hash2(ix + i, iy + j);
            const double sx = ix + i + 0.15 + 0.7 * unit(h);
            const double sy = iy + j + 0.15 + 0.7 * unit(hash(h));
            const double d = std::hypot(x - sx, y - sy);
            if (d < best.dist) {
                best.dist = d;
                best.id = h;
                bx = sx;
                by = sy;
            }
        }
    }
    best.ox = x - bx;
    best.oy = y - by;
    for (int j = -2; j <= 2; ++j) {
        for (int i = -2; i <= 2; ++i) {
            const std::uint32_t h = hash2(ix + i, iy + j);
            if (h == best.id)
                continue;
            const double sx = ix + i + 0.15 + 0.7 * unit(h);
            const double sy = iy + j + 0.15 + 0.7 * unit(hash(h));
            // Distance from the point to the bisector of the two sites.
            const double mx = (bx + sx) * 0.5, my = (by + sy) * 0.5;
            const double nx = sx - bx, ny = sy - by;
            const double len = std::hypot(nx, ny);
            best.edge = std::min(best.edge, ((mx - x) * nx + (my - y) * ny) / len);
            best.room = std::min(best.room, len * 0.5);
        }
    }
    return best;
}

QImage paintSmoke(int w, int h) {
    QImage img(w, h, QImage::Format_RGB32);
    const double unitPx = 1.0 / 650.0;

    const auto shade = [&](double px, double py) -> Rgb {
        const double x = px * unitPx, y = py * unitPx;
        // Two rounds of domain warping give the curling, folded look of smoke.
        const double qx = fbm(x + 0.0, y + 0.0, 4), qy = fbm(x + 5.2, y + 1.3, 4);
        const double rx = fbm(x + 2.2 * qx + 1.7, y + 2.2 * qy + 9.2, 5);
        const double ry = fbm(x + 2.2 * qx + 8.3, y + 2.2 * qy + 2.8, 5);
        const double f = fbm(x + 2.4 * rx, y + 2.4 * ry, 7);
        // Hotter towards the bottom, like embers under rising smoke.
        const double heat = clamp01(0.47 + 1.1 * f + 0.45 * (py / h - 0.5));

        // Ember ramp: soot, deep red, orange, yellow-white.
        Rgb col = mix(Rgb{0.04, 0.03, 0.07}, Rgb{0.5, 0.05, 0.06}, smoothstep(0.2, 0.5, heat));
        col = mix(col, Rgb{0.97, 0.42, 0.06}, smoothstep(0.5, 0.75, heat));
        col = mix(col, Rgb{1.0, 0.92, 0.6}, smoothstep(0.78, 0.98, heat));
        // Cool teal-violet smoke where the second warp runs strongest and the fire is out.
        const double fold = smoothstep(0.25, 0.75, std::hypot(rx, ry) * 1.4);
        const Rgb smoke = mix(Rgb{0.1, 0.32, 0.45}, Rgb{0.42, 0.22, 0.55}, clamp01(0.5 + 2.0 * qx));
        col = mix(col, smoke, 0.9 * fold * (1.0 - smoothstep(0.35, 0.7, heat)));
        // Fine grain so flat areas still have texture to corrupt.
        col = col * (0.94 + 0.06 * noise(px * 0.5, py * 0.5));

        // Salt: sharp-edged crystals, drifted into clusters by a slow noise field.
        const double cellPx = 30.0;
        const Cell c = voronoi(px / cellPx, py / cellPx);
        // Sampled at the grain's centre, not the pixel, so a grain is either whole or absent.
        const double sx = (px - c.ox * cellPx) * unitPx, sy = (py - c.oy * cellPx) * unitPx;
        const double drift = smoothstep(0.05, 0.45, fbm(sx * 2.0 + 11.0, sy * 2.0 - 4.0, 3));
        if (unit(hash(c.id ^ 0xa5a5a5a5U)) < 0.7 * drift) {
            // Shrunk to fit its cell, so no grain is sliced by a neighbour's border.
            const double size = std::min(0.16 + 0.22 * unit(hash(c.id + 7U)), c.room * 0.62);
            const double a = unit(hash(c.id + 13U)) * std::numbers::pi;
            const double ca = std::cos(a), sa = std::sin(a);
            const double lx = c.ox * ca - c.oy * sa, ly = c.ox * sa + c.oy * ca;
            const double box = std::max(std::abs(lx), std::abs(ly));
            if (box < size) {
                // Lit from one side: each face of the grain gets its own flat tone.
                const double face = (lx > std::abs(ly)) ? 0.7 : (ly > std::abs(lx)) ? 0.55 : 0.95;
                const double inner = box < size * 0.5 ? 1.06 : 1.0;
                Rgb salt = Rgb{0.88, 0.92, 0.98} * (face * inner);
                // Grains pick up the glow around them.
                return mix(salt, col + Rgb{0.3, 0.25, 0.2}, 0.3);
            }
            // A soft shadow under each grain lifts it off the smoke.
            if (box < size + 0.08)
                return col * (0.55 + 0.45 * smoothstep(size, size + 0.08, box));
        }
        return col;
    };
    renderRows(img, shade, 2);
    return img;
}

bool save(const QImage& img, const QString& path, const char* format, int quality) {
    if (!img.save(path, format, quality)) {
        std::fprintf(stderr, "could not write %s\n", qPrintable(path));
        return false;
    }
    std::printf("wrote %s (%dx%d)\n", qPrintable(path), img.width(), img.height());
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT-FOLDER\n", argv[0]);
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    bool ok = save(paintFractal(1600, 1000), dir + "/Zerbrak.png", "PNG", -1);
    ok = save(paintSmoke(1440, 960), dir + "/Salt and Tinder.jpg", "JPEG", 90) && ok;
    return ok ? 0 : 1;
}
