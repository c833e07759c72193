// Writes the module's greyscale film-damage textures as Windows bitmaps, one file per resource id:
// 20 splotches (11001..11020), the funk grime (12001), 120 dust specks (13001..13120) and 48 deep
// scratch strips (14001..14048).
//
//   texture_generator OUT_DIR [--sheet SHEET.pgm]
//
// Every byte is the same on every machine: the seeds are fixed, the random generator and the noise
// are our own, and the only floating-point operations are +, -, *, /, sqrt and floor (correctly
// rounded everywhere; the build never contracts them into fused multiply-adds). Sine and exp are
// polynomials of our own, not the C library's, whose last bits differ between versions.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

// ---------------------------------------------------------------------------------------------
// Arithmetic of our own

// sin by its Taylor series on [-pi/2, pi/2] after folding (error below 1e-9).
double sine(double x) {
    x -= 2.0 * kPi * std::floor((x + kPi) / (2.0 * kPi));  // [-pi, pi)
    if (x > 0.5 * kPi) x = kPi - x;
    if (x < -0.5 * kPi) x = -kPi - x;
    const double x2 = x * x;
    double term = x, sum = x;
    for (int k = 1; k <= 8; ++k) {
        term = -term * x2 / double((2 * k) * (2 * k + 1));
        sum += term;
    }
    return sum;
}
double cosine(double x) { return sine(x + 0.5 * kPi); }

// e^x as 2^n e^r with |r| <= ln2 / 2 and a Taylor series for e^r.
double exponential(double x) {
    x = std::clamp(x, -700.0, 700.0);
    constexpr double kLn2 = 0.69314718055994530942;
    const double n = std::floor(x / kLn2 + 0.5);
    const double r = x - n * kLn2;
    double term = 1.0, sum = 1.0;
    for (int k = 1; k <= 14; ++k) {
        term = term * r / double(k);
        sum += term;
    }
    return std::ldexp(sum, int(n));
}

double smoothstep(double edge0, double edge1, double x) {
    const double t = std::clamp((x - edge0) / (edge1 - edge0), 0.0, 1.0);
    return t * t * (3.0 - 2.0 * t);
}
double lerp(double a, double b, double t) { return a + (b - a) * t; }

uint64_t mix64(uint64_t z) {
    z += 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// SplitMix64: small, fast, and its output is defined bit for bit.
class Rng {
public:
    explicit Rng(uint64_t seed) : state_(seed) {}
    uint64_t next() { return mix64(state_ += 0x9E3779B97F4A7C15ull); }
    double unit() { return double(next() >> 11) * 0x1.0p-53; }  // [0, 1)
    double range(double lo, double hi) { return lo + (hi - lo) * unit(); }
    int below(int n) { return int(next() % uint64_t(n)); }
    bool chance(double p) { return unit() < p; }
    // Roughly normal: the sum of four uniforms, centred and scaled to unit spread.
    double gauss() { return (unit() + unit() + unit() + unit() - 2.0) * 1.7320508075688772; }

private:
    uint64_t state_;
};

// Gradient noise on the integer lattice, about -1..1, with quintic fade between the corners.
class Noise {
public:
    explicit Noise(uint64_t seed) : seed_(mix64(seed)) {}

    double at(double x, double y) const {
        const double fx = std::floor(x), fy = std::floor(y);
        const int64_t ix = int64_t(fx), iy = int64_t(fy);
        const double tx = x - fx, ty = y - fy;
        const double n00 = corner(ix, iy, tx, ty), n10 = corner(ix + 1, iy, tx - 1.0, ty);
        const double n01 = corner(ix, iy + 1, tx, ty - 1.0), n11 = corner(ix + 1, iy + 1, tx - 1.0, ty - 1.0);
        const double u = fade(tx), v = fade(ty);
        return 1.4 * lerp(lerp(n00, n10, u), lerp(n01, n11, u), v);
    }

    // Octaves at twice the frequency and `gain` times the amplitude each, normalised to about -1..1.
    // Each octave is also turned by 37 degrees, so the lattices do not line up into a visible grid.
    double fbm(double x, double y, int octaves, double gain = 0.5) const {
        double sum = 0.0, amp = 1.0, norm = 0.0;
        for (int o = 0; o < octaves; ++o) {
            sum += amp * at(x + 17.31 * o, y - 9.77 * o);
            norm += amp;
            amp *= gain;
            const double turned = 1.6 * x - 1.2 * y;
            y = 1.2 * x + 1.6 * y;
            x = turned;
        }
        return sum / norm;
    }

private:
    static double fade(double t) { return t * t * t * (t * (t * 6.0 - 15.0) + 10.0); }
    double corner(int64_t ix, int64_t iy, double dx, double dy) const {
        static const std::array<std::array<double, 2>, 16> directions = [] {
            std::array<std::array<double, 2>, 16> d{};
            for (int i = 0; i < 16; ++i) d[i] = {cosine(2.0 * kPi * (i + 0.5) / 16.0), sine(2.0 * kPi * (i + 0.5) / 16.0)};
            return d;
        }();
        const uint64_t h = mix64(seed_ ^ mix64(uint64_t(ix) * 0xD1B54A32D192ED03ull + uint64_t(iy)));
        const auto& g = directions[h & 15];
        return g[0] * dx + g[1] * dy;
    }
    uint64_t seed_;
};

// A plane of doubles, row 0 at the top.
struct Plane {
    int width = 0, height = 0;
    std::vector<double> v;
    Plane(int w, int h, double fill = 0.0) : width(w), height(h), v(size_t(w) * size_t(h), fill) {}
    double& at(int x, int y) { return v[size_t(y) * size_t(width) + size_t(x)]; }
    double at(int x, int y) const { return v[size_t(y) * size_t(width) + size_t(x)]; }
};

// Grey bytes, row 0 at the top.
struct Grey {
    int width = 0, height = 0;
    std::vector<uint8_t> v;
    uint8_t at(int x, int y) const { return v[size_t(y) * size_t(width) + size_t(x)]; }
};

// A knee that leaves 0..0.75 alone and bends everything above towards 1, so that the darkest
// stains and brightest specks reach the end of their range without flat plateaus.
double knee(double x) {
    if (x <= 0.75) return x;
    return 0.75 + 0.25 * (1.0 - exponential(-(x - 0.75) / 0.25));
}

// The scale s for which mean(round(limit * knee(s * field / limit))) is `target`, by bisection.
double scaleForMean(const Plane& field, double limit, double target) {
    auto meanAt = [&](double s) {
        double sum = 0.0;
        for (double f : field.v) sum += std::floor(limit * knee(s * f / limit) + 0.5);
        return sum / double(field.v.size());
    };
    double lo = 0.0, hi = 1.0;
    while (meanAt(hi) < target && hi < 1e9) hi *= 2.0;
    for (int i = 0; i < 60; ++i) {
        const double mid = 0.5 * (lo + hi);
        (meanAt(mid) < target ? lo : hi) = mid;
    }
    return 0.5 * (lo + hi);
}

// ---------------------------------------------------------------------------------------------
// Windows bitmaps

void put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}
void put32(std::vector<uint8_t>& out, uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

enum class Storage { Palette8, Rle8, Rgb24 };

// Run-length coding of one row: runs of two or more equal bytes as (count, value) pairs; other
// stretches of three or more bytes as absolute runs (0, n, bytes, padded to a 16-bit boundary);
// stray single bytes as runs of one.
void encodeRleRow(const uint8_t* row, int width, std::vector<uint8_t>& out) {
    int i = 0;
    while (i < width) {
        int run = 1;
        while (i + run < width && run < 255 && row[i + run] == row[i]) ++run;
        if (run >= 2) {
            out.push_back(uint8_t(run));
            out.push_back(row[i]);
            i += run;
            continue;
        }
        int j = i;
        while (j < width && j - i < 255) {
            if (j + 2 < width && row[j] == row[j + 1] && row[j] == row[j + 2]) break;
            ++j;
        }
        const int n = j - i;
        if (n >= 3) {
            out.push_back(0);
            out.push_back(uint8_t(n));
            out.insert(out.end(), row + i, row + j);
            if (n & 1) out.push_back(0);
        } else {
            for (int k = i; k < j; ++k) {
                out.push_back(1);
                out.push_back(row[k]);
            }
        }
        i = j;
    }
}

std::vector<uint8_t> encodeBitmap(const Grey& image, Storage storage) {
    const int w = image.width, h = image.height;
    std::vector<uint8_t> pixels;
    if (storage == Storage::Rle8) {
        for (int r = 0; r < h; ++r) {  // bottom row first
            encodeRleRow(&image.v[size_t(h - 1 - r) * size_t(w)], w, pixels);
            pixels.push_back(0);
            pixels.push_back(r + 1 < h ? 0 : 1);  // end of line; end of bitmap after the last
        }
    } else {
        const int bytesPerPixel = storage == Storage::Rgb24 ? 3 : 1;
        const int stride = (w * bytesPerPixel + 3) / 4 * 4;
        pixels.assign(size_t(stride) * size_t(h), 0);
        for (int r = 0; r < h; ++r)
            for (int x = 0; x < w; ++x)
                for (int c = 0; c < bytesPerPixel; ++c)
                    pixels[size_t(r) * size_t(stride) + size_t(x * bytesPerPixel + c)] = image.at(x, h - 1 - r);
    }
    const bool palettised = storage != Storage::Rgb24;
    const uint32_t offset = 14 + 40 + (palettised ? 256 * 4 : 0);
    std::vector<uint8_t> out;
    out.push_back('B');
    out.push_back('M');
    put32(out, offset + uint32_t(pixels.size()));
    put32(out, 0);
    put32(out, offset);
    put32(out, 40);
    put32(out, uint32_t(w));
    put32(out, uint32_t(h));  // positive: rows bottom-up
    put16(out, 1);
    put16(out, palettised ? 8 : 24);
    put32(out, storage == Storage::Rle8 ? 1 : 0);  // BI_RLE8 or BI_RGB
    put32(out, uint32_t(pixels.size()));
    put32(out, 2835);  // 72 dots per inch
    put32(out, 2835);
    put32(out, palettised ? 256 : 0);
    put32(out, 0);
    if (palettised)
        for (int i = 0; i < 256; ++i) put32(out, uint32_t(i) * 0x010101u);
    out.insert(out.end(), pixels.begin(), pixels.end());
    return out;
}

bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

Grey toGrey(const Plane& p, double lo, double hi) {
    Grey g{p.width, p.height, std::vector<uint8_t>(p.v.size())};
    for (size_t i = 0; i < p.v.size(); ++i) g.v[i] = uint8_t(std::clamp(std::floor(p.v[i] + 0.5), lo, hi));
    return g;
}

// ---------------------------------------------------------------------------------------------
// Splotches: white paper with darker stains. The darkness field is built in arbitrary units and
// then scaled so that each member has its own mean; 255 - darkness, at most 151 dark (104).

constexpr int kSplotchSize = 400;
constexpr int kSplotchCount = 20;
constexpr double kSplotchDepth = 151.0;

// An irregular blob: distance from its centre, about 1 on its outline, with the plane warped by
// low-frequency noise (the overall shape, lobed and lopsided) and the distance roughened by finer
// noise (a ragged edge).
struct Blob {
    double cx, cy, radius, aspect, angle;
    double warp, warpScale, rough, roughScale;
    Noise nx, ny, nr;

    Blob(Rng& rng, double cx_, double cy_, double radius_)
        : cx(cx_), cy(cy_), radius(radius_), aspect(rng.range(0.55, 1.0)), angle(rng.range(0.0, kPi)),
          warp(rng.range(0.3, 0.6) * radius_), warpScale(rng.range(0.9, 1.8) / radius_),
          rough(rng.range(0.03, 0.09)), roughScale(rng.range(5.0, 12.0) / radius_), nx(rng.next()), ny(rng.next()),
          nr(rng.next()) {}

    double distance(double x, double y) const {
        double qx = x + warp * nx.fbm(x * warpScale, y * warpScale, 4) - cx;
        double qy = y + warp * ny.fbm(x * warpScale, y * warpScale, 4) - cy;
        const double c = cosine(angle), s = sine(angle);
        const double u = c * qx + s * qy, v = (-s * qx + c * qy) / aspect;
        return std::sqrt(u * u + v * v) / radius + rough * nr.fbm(x * roughScale, y * roughScale, 4);
    }
};

// A tide mark: a pale, mottled inside, and a dark line where the water dried, sharp outside and
// fading inwards, stronger in some places than others; sometimes a fainter line of an earlier,
// smaller drying inside it.
void addWaterStain(Plane& d, Rng& rng, double cx, double cy, double radius, double strength) {
    const Blob blob(rng, cx, cy, radius);
    const double inner = rng.range(0.04, 0.12), outer = rng.range(0.006, 0.018);
    const double fill = rng.range(0.1, 0.3);
    const Noise mottle(rng.next()), along(rng.next()), width(rng.next());
    const double mottleScale = rng.range(0.015, 0.04);
    const bool earlier = rng.chance(0.45);
    const Blob ring(rng, cx + rng.range(-0.2, 0.2) * radius, cy + rng.range(-0.2, 0.2) * radius, radius * rng.range(0.45, 0.75));
    const double ringStrength = rng.range(0.2, 0.5);
    for (int y = 0; y < d.height; ++y)
        for (int x = 0; x < d.width; ++x) {
            const double r = blob.distance(x, y);
            if (r > 1.3) continue;
            const double inside = 1.0 - smoothstep(1.0 - outer, 1.0 + outer, r);
            const double m = 0.5 + 0.5 * mottle.fbm(x * mottleScale, y * mottleScale, 5);
            const double w = inner * (0.6 + 0.8 * (0.5 + 0.5 * width.fbm(x * 0.02, y * 0.02, 2)));
            const double t = r < 1.0 ? (1.0 - r) / w : (r - 1.0) / outer;
            const double line = exponential(-t * t) * (0.25 + 0.75 * smoothstep(-0.5, 0.4, along.fbm(x * 0.025, y * 0.025, 3)));
            double v = line + fill * inside * m * (0.4 + 0.6 * smoothstep(0.2, 1.0, r));
            if (earlier) {
                const double q = ring.distance(x, y);
                const double tq = q < 1.0 ? (1.0 - q) / (2.0 * w) : (q - 1.0) / (2.0 * outer);
                v += ringStrength * exponential(-tq * tq) * inside * (0.3 + 0.7 * m);
            }
            d.at(x, y) += strength * v;
        }
}

// A chemical blotch: dense and mottled, darker in places, pitted with paler holes, its edge soft and
// ragged, sometimes with a darker rim where the liquid gathered as it dried.
void addBlotch(Plane& d, Rng& rng, double cx, double cy, double radius, double strength) {
    const Blob blob(rng, cx, cy, radius);
    const double softness = rng.range(0.08, 0.3);
    const Noise mottle(rng.next()), pits(rng.next());
    const double mottleScale = rng.range(0.025, 0.06), pitScale = rng.range(0.08, 0.16);
    const double core = rng.range(0.0, 0.5), rim = rng.chance(0.5) ? rng.range(0.2, 0.7) : 0.0;
    const double pitting = rng.range(0.0, 0.6);
    for (int y = 0; y < d.height; ++y)
        for (int x = 0; x < d.width; ++x) {
            const double r = blob.distance(x, y);
            if (r > 1.0 + softness) continue;
            const double inside = 1.0 - smoothstep(1.0 - softness, 1.0 + softness, r);
            const double m = 0.55 + 0.45 * mottle.fbm(x * mottleScale, y * mottleScale, 5);
            const double hole = pitting * smoothstep(0.25, 0.6, pits.fbm(x * pitScale, y * pitScale, 3));
            const double t = (r - 0.97) / 0.08;
            d.at(x, y) += strength * (inside * (m * (1.0 - hole) + core * (1.0 - smoothstep(0.0, 0.7, r))) + rim * exponential(-t * t));
        }
}

// A soft spot, as one droplet or one mould colony: a small blob, sometimes lighter in its middle.
void addSpot(Plane& d, Rng& rng, double cx, double cy, double radius, double strength) {
    const double aspect = rng.range(0.6, 1.0), angle = rng.range(0.0, kPi);
    const double c = cosine(angle), s = sine(angle);
    const Noise edge(rng.next());
    const double hollow = rng.chance(0.3) ? rng.range(0.3, 0.7) : 0.0;
    const double soft = rng.range(0.25, 0.6);
    const int reach = int(radius * 1.6) + 2;
    for (int y = std::max(0, int(cy) - reach); y <= std::min(d.height - 1, int(cy) + reach); ++y)
        for (int x = std::max(0, int(cx) - reach); x <= std::min(d.width - 1, int(cx) + reach); ++x) {
            const double qx = x - cx, qy = y - cy;
            const double u = c * qx + s * qy, v = (-s * qx + c * qy) / aspect;
            const double r = std::sqrt(u * u + v * v) / radius + 0.18 * edge.fbm(x * 0.6 / radius, y * 0.6 / radius, 3);
            double k = 1.0 - smoothstep(1.0 - soft, 1.0, r);
            if (hollow > 0.0) k *= 1.0 - hollow * (1.0 - smoothstep(0.0, 0.7, r));
            d.at(x, y) += strength * k;
        }
}

// Mould: colonies of small spots around a few centres, with a faint haze between them.
void addMould(Plane& d, Rng& rng, double cx, double cy, double spread, double strength) {
    const int colonies = 1 + rng.below(3);
    for (int c = 0; c < colonies; ++c) {
        const double ox = cx + rng.gauss() * spread * 0.4, oy = cy + rng.gauss() * spread * 0.4;
        const int spots = 25 + rng.below(60);
        for (int i = 0; i < spots; ++i) {
            const double a = rng.range(0.0, 2.0 * kPi), r = spread * 0.5 * rng.unit() * rng.unit() * 2.0;
            const double size = lerp(1.5, 9.0, rng.unit() * rng.unit());
            addSpot(d, rng, ox + r * cosine(a), oy + r * sine(a), size, strength * rng.range(0.35, 1.0));
        }
        addBlotch(d, rng, ox, oy, spread * rng.range(0.4, 0.7), strength * 0.06);
    }
}

// A smear: a long stain with soft streaks along its length, as where something wet was wiped,
// darkest where the wipe began.
void addSmear(Plane& d, Rng& rng, double cx, double cy, double length, double strength) {
    const double angle = rng.range(0.0, kPi), c = cosine(angle), s = sine(angle);
    const double width = length * rng.range(0.22, 0.45);
    const Noise streaks(rng.next()), edge(rng.next()), bend(rng.next()), mottle(rng.next());
    const double curve = rng.range(-0.4, 0.4);
    for (int y = 0; y < d.height; ++y)
        for (int x = 0; x < d.width; ++x) {
            const double qx = x - cx, qy = y - cy;
            const double u = (c * qx + s * qy) / (0.5 * length);
            double v = (-s * qx + c * qy);
            v -= curve * u * u * width + 0.3 * width * bend.fbm(u * 1.5, 0.0, 2);
            v /= 0.5 * width;
            const double r = std::sqrt(u * u * u * u + v * v) + 0.2 * edge.fbm(x * 0.03, y * 0.03, 5);
            if (r > 1.3) continue;
            const double inside = 1.0 - smoothstep(0.35, 1.15, r);
            const double streak = 0.65 + 0.35 * streaks.fbm(u * 0.8, v * 2.0, 4);
            const double m = 0.75 + 0.25 * mottle.fbm(x * 0.04, y * 0.04, 4);
            d.at(x, y) += strength * inside * streak * m * (1.0 - 0.3 * (u + 1.0));
        }
}

// A splash: a blob with droplets thrown out to one side and a thin run below it.
void addSplash(Plane& d, Rng& rng, double cx, double cy, double radius, double strength) {
    addBlotch(d, rng, cx, cy, radius, strength);
    const double dir = rng.range(0.0, 2.0 * kPi);
    const int drops = 4 + rng.below(10);
    for (int i = 0; i < drops; ++i) {
        const double a = dir + rng.gauss() * 0.5, r = radius * rng.range(1.1, 2.2);
        addSpot(d, rng, cx + r * cosine(a), cy + r * sine(a), radius * rng.range(0.05, 0.22), strength * rng.range(0.5, 1.0));
    }
    if (rng.chance(0.6)) {
        const double a = rng.range(0.0, 2.0 * kPi);
        double x = cx, y = cy, w = radius * 0.18;
        const int steps = 30 + rng.below(40);
        for (int i = 0; i < steps; ++i) {
            x += 2.0 * cosine(a + 0.2 * sine(i * 0.2));
            y += 2.0 * sine(a + 0.2 * sine(i * 0.2));
            w *= 0.985;
            addSpot(d, rng, x, y, std::max(1.5, w), strength * 0.7 / std::max(1.5, w));  // the steps overlap
        }
    }
}

// A faint cloud: a large, very soft, uneven shadow with a hint of an edge.
void addCloud(Plane& d, Rng& rng, double cx, double cy, double radius, double strength) {
    Blob blob(rng, cx, cy, radius);
    blob.warp *= 1.4;
    const Noise mottle(rng.next());
    for (int y = 0; y < d.height; ++y)
        for (int x = 0; x < d.width; ++x) {
            const double r = blob.distance(x, y);
            if (r > 1.5) continue;
            const double inside = 1.0 - smoothstep(0.3, 1.2, r);
            const double m = 0.5 + 0.5 * mottle.fbm(x * 0.015, y * 0.015, 5);
            const double edge = 0.35 * exponential(-((r - 0.95) / 0.06) * ((r - 0.95) / 0.06));
            d.at(x, y) += strength * (inside * m + edge);
        }
}

// One member's darkness field and how dark it is on average (255 minus its mean).
Plane splotchField(int index, double* meanDarkness) {
    Rng rng(0x5107C4E5ull * 1000003ull + uint64_t(index));
    Plane d(kSplotchSize, kSplotchSize);
    const double c = kSplotchSize * 0.5;
    auto jitter = [&](double amount) { return c + rng.range(-amount, amount); };
    // The kinds take turns, so the set has a few of each.
    switch (index % 7) {
    case 0:
        addWaterStain(d, rng, jitter(20), jitter(20), rng.range(95, 150), 1.0);
        if (rng.chance(0.5)) addWaterStain(d, rng, jitter(70), jitter(70), rng.range(30, 60), 0.8);
        *meanDarkness = 9.5;
        break;
    case 1:
        addBlotch(d, rng, jitter(25), jitter(25), rng.range(75, 130), 1.0);
        *meanDarkness = 11.0;
        break;
    case 2:
        addMould(d, rng, jitter(30), jitter(30), rng.range(70, 110), 1.0);
        *meanDarkness = 5.0;
        break;
    case 3:
        addSmear(d, rng, jitter(20), jitter(20), rng.range(220, 300), 1.0);
        *meanDarkness = 8.0;
        break;
    case 4:
        addSplash(d, rng, jitter(30), jitter(30), rng.range(45, 80), 1.0);
        *meanDarkness = 4.0;
        break;
    case 5:
        addCloud(d, rng, jitter(15), jitter(15), rng.range(120, 160), 1.0);
        if (rng.chance(0.6)) addWaterStain(d, rng, jitter(40), jitter(40), rng.range(50, 90), 0.6);
        *meanDarkness = 8.5;
        break;
    default:
        addWaterStain(d, rng, jitter(30), jitter(30), rng.range(60, 110), 1.0);
        addBlotch(d, rng, jitter(60), jitter(60), rng.range(20, 40), 0.8);
        *meanDarkness = 7.5;
        break;
    }
    // The stain fades out before the edge, so the square it is drawn in never shows.
    for (int y = 0; y < kSplotchSize; ++y)
        for (int x = 0; x < kSplotchSize; ++x) {
            const int edge = std::min(std::min(x, y), std::min(kSplotchSize - 1 - x, kSplotchSize - 1 - y));
            d.at(x, y) *= smoothstep(2.0, 40.0, edge);
        }
    return d;
}

std::vector<Grey> makeSplotches() {
    std::vector<Plane> fields;
    std::vector<double> targets;
    double total = 0.0;
    for (int i = 0; i < kSplotchCount; ++i) {
        double t = 0.0;
        fields.push_back(splotchField(i, &t));
        targets.push_back(t);
        total += t;
    }
    // The set as a whole averages 8 levels below white (247).
    std::vector<Grey> out;
    for (int i = 0; i < kSplotchCount; ++i) {
        const double target = targets[size_t(i)] * 8.0 * kSplotchCount / total;
        const double s = scaleForMean(fields[size_t(i)], kSplotchDepth, target);
        Plane p = fields[size_t(i)];
        for (double& v : p.v) v = 255.0 - std::floor(kSplotchDepth * knee(s * v / kSplotchDepth) + 0.5);
        out.push_back(toGrey(p, 255.0 - kSplotchDepth, 255.0));
    }
    return out;
}

// ---------------------------------------------------------------------------------------------
// Dust: bright specks on black, 32 x 32, drawn four times finer and averaged down so their edges
// are anti-aliased; some then softened a little more, as specks slightly out of focus.

constexpr int kDustSize = 32;
constexpr int kDustCount = 120;
constexpr int kDustFine = 4;
constexpr double kDustMean = 4.0;

struct Canvas {
    Plane fine{kDustSize * kDustFine, kDustSize * kDustFine};
    // Visits every fine sample with its position in whole pixels.
    template <class F>
    void each(double x0, double y0, double x1, double y1, F&& f) {
        const int sx0 = std::max(0, int(std::floor(x0 * kDustFine))), sy0 = std::max(0, int(std::floor(y0 * kDustFine)));
        const int sx1 = std::min(fine.width - 1, int(std::floor(x1 * kDustFine)));
        const int sy1 = std::min(fine.height - 1, int(std::floor(y1 * kDustFine)));
        for (int sy = sy0; sy <= sy1; ++sy)
            for (int sx = sx0; sx <= sx1; ++sx) {
                double& v = fine.at(sx, sy);
                v = std::max(v, f((sx + 0.5) / kDustFine, (sy + 0.5) / kDustFine));
            }
    }
};

// An irregular fleck or dot.
void dustBlob(Canvas& cv, Rng& rng, double cx, double cy, double radius, double intensity) {
    const double aspect = rng.range(0.45, 1.0), angle = rng.range(0.0, kPi);
    const double c = cosine(angle), s = sine(angle);
    const Noise edge(rng.next()), grain(rng.next());
    const double rough = rng.range(0.12, 0.4), soft = rng.range(0.2, 0.6);
    cv.each(cx - 2 * radius - 1, cy - 2 * radius - 1, cx + 2 * radius + 1, cy + 2 * radius + 1, [&](double x, double y) {
        const double qx = x - cx, qy = y - cy;
        const double u = c * qx + s * qy, v = (-s * qx + c * qy) / aspect;
        const double r = std::sqrt(u * u + v * v) / radius + rough * edge.fbm(x * 0.7, y * 0.7, 3);
        const double k = 1.0 - smoothstep(1.0 - soft, 1.0, r);
        return intensity * k * (0.8 + 0.2 * grain.fbm(x * 1.3, y * 1.3, 2));
    });
}

struct Point {
    double x, y;
};

// A path that turns by a slowly changing curvature: a hair when it hardly turns, a curl when it
// turns a lot. Centred in the tile; none larger than `maxExtent`.
std::vector<Point> dustPath(Rng& rng, double length, double curvature, double curvatureDrift, double maxExtent) {
    for (;;) {
        std::vector<Point> pts{{0.0, 0.0}};
        double a = rng.range(0.0, 2.0 * kPi), k = curvature * (rng.chance(0.5) ? 1.0 : -1.0);
        const double step = 0.4;
        for (double l = 0.0; l < length; l += step) {
            k += rng.gauss() * curvatureDrift;
            a += k * step;
            pts.push_back({pts.back().x + step * cosine(a), pts.back().y + step * sine(a)});
        }
        double minX = 1e9, maxX = -1e9, minY = 1e9, maxY = -1e9;
        for (const Point& p : pts) {
            minX = std::min(minX, p.x), maxX = std::max(maxX, p.x);
            minY = std::min(minY, p.y), maxY = std::max(maxY, p.y);
        }
        if (maxX - minX > maxExtent || maxY - minY > maxExtent) {
            length *= 0.85;
            continue;
        }
        const double slackX = maxExtent - (maxX - minX), slackY = maxExtent - (maxY - minY);
        const double ox = kDustSize * 0.5 - 0.5 * maxExtent - minX + rng.range(0.0, slackX);
        const double oy = kDustSize * 0.5 - 0.5 * maxExtent - minY + rng.range(0.0, slackY);
        for (Point& p : pts) p.x += ox, p.y += oy;
        return pts;
    }
}

// A fibre along a path, its width and brightness changing along it and thinning at the ends.
void dustStroke(Canvas& cv, Rng& rng, const std::vector<Point>& pts, double halfWidth, double intensity) {
    const Noise along(rng.next()), thick(rng.next());
    const double n = double(pts.size() - 1);
    const double taper = rng.range(0.1, 0.35);
    for (size_t i = 0; i + 1 < pts.size(); ++i) {
        const Point a = pts[i], b = pts[i + 1];
        const double t = i / n;
        const double ends = smoothstep(0.0, taper, t) * smoothstep(0.0, taper, 1.0 - t);
        const double w = halfWidth * (0.75 + 0.25 * thick.fbm(t * 6.0, 0.5, 2)) * (0.5 + 0.5 * ends);
        const double bright = intensity * (0.7 + 0.3 * along.fbm(t * 5.0, 0.5, 3)) * (0.35 + 0.65 * ends);
        const double reach = w + 0.6;
        cv.each(std::min(a.x, b.x) - reach, std::min(a.y, b.y) - reach, std::max(a.x, b.x) + reach,
                std::max(a.y, b.y) + reach, [&](double x, double y) {
                    const double dx = b.x - a.x, dy = b.y - a.y;
                    const double h = std::clamp(((x - a.x) * dx + (y - a.y) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
                    const double ex = x - a.x - h * dx, ey = y - a.y - h * dy;
                    const double dist = std::sqrt(ex * ex + ey * ey);
                    return bright * (1.0 - smoothstep(w - 0.25, w + 0.25, dist));
                });
    }
}

Plane dustField(int index) {
    Rng rng(0xD057ull * 7919ull + uint64_t(index) * 104729ull);
    Canvas cv;
    const double c = kDustSize * 0.5;
    const double intensity = rng.chance(0.15) ? rng.range(1.8, 2.8) : rng.range(0.5, 1.3);
    const double pick = rng.unit();
    if (pick < 0.22) {  // a dot
        dustBlob(cv, rng, c + rng.range(-4, 4), c + rng.range(-4, 4), rng.range(0.8, 2.2), intensity);
    } else if (pick < 0.44) {  // an irregular fleck
        dustBlob(cv, rng, c + rng.range(-3, 3), c + rng.range(-3, 3), rng.range(1.6, 3.6), intensity * 0.8);
        if (rng.chance(0.5)) dustBlob(cv, rng, c + rng.range(-3, 3), c + rng.range(-3, 3), rng.range(1.0, 2.5), intensity * 0.7);
    } else if (pick < 0.54) {  // a little cluster
        const int n = 2 + rng.below(4);
        for (int i = 0; i < n; ++i)
            dustBlob(cv, rng, c + rng.gauss() * 3.0, c + rng.gauss() * 3.0, rng.range(0.6, 1.6), intensity * rng.range(0.5, 1.0));
    } else if (pick < 0.82) {  // a hair or fibre
        const auto path = dustPath(rng, rng.range(10.0, 34.0), rng.range(0.0, 0.08), 0.05, 25.0);
        dustStroke(cv, rng, path, rng.range(0.35, 0.8), intensity);
        if (rng.chance(0.3)) {  // a frayed end
            const auto tuft = dustPath(rng, rng.range(4.0, 9.0), rng.range(0.0, 0.3), 0.05, 25.0);
            std::vector<Point> moved = tuft;
            const Point end = path[rng.chance(0.5) ? 0 : path.size() - 1];
            for (Point& p : moved) p.x += end.x - tuft[0].x, p.y += end.y - tuft[0].y;
            dustStroke(cv, rng, moved, rng.range(0.3, 0.5), intensity * 0.7);
        }
    } else {  // a curl
        const auto path = dustPath(rng, rng.range(12.0, 30.0), rng.range(0.2, 0.5), 0.09, 22.0);
        dustStroke(cv, rng, path, rng.range(0.35, 0.65), intensity);
    }
    Plane d(kDustSize, kDustSize);
    for (int y = 0; y < kDustSize; ++y)
        for (int x = 0; x < kDustSize; ++x) {
            double sum = 0.0;
            for (int j = 0; j < kDustFine; ++j)
                for (int i = 0; i < kDustFine; ++i) sum += cv.fine.at(x * kDustFine + i, y * kDustFine + j);
            d.at(x, y) = sum / (kDustFine * kDustFine);
        }
    const double blur = rng.chance(0.5) ? rng.range(0.2, 0.9) : 0.0;
    if (blur > 0.0) {
        Plane b = d;
        for (int y = 1; y + 1 < kDustSize; ++y)
            for (int x = 1; x + 1 < kDustSize; ++x) {
                double sum = 0.0;
                for (int j = -1; j <= 1; ++j)
                    for (int i = -1; i <= 1; ++i) sum += d.at(x + i, y + j) * double((2 - std::abs(i)) * (2 - std::abs(j)));
                b.at(x, y) = lerp(d.at(x, y), sum / 16.0, blur);
            }
        d = b;
    }
    return d;
}

std::vector<Grey> makeDust() {
    std::vector<Plane> fields;
    Plane all(kDustSize, kDustSize * kDustCount);
    for (int i = 0; i < kDustCount; ++i) {
        fields.push_back(dustField(i));
        std::copy(fields.back().v.begin(), fields.back().v.end(), all.v.begin() + std::ptrdiff_t(i) * kDustSize * kDustSize);
    }
    // One scale for the whole set: the specks keep their differences in brightness.
    const double s = scaleForMean(all, 255.0, kDustMean);
    std::vector<Grey> out;
    for (Plane& p : fields) {
        for (double& v : p.v) v = 255.0 * knee(s * v / 255.0);
        out.push_back(toGrey(p, 0.0, 255.0));
    }
    return out;
}

// ---------------------------------------------------------------------------------------------
// Deep scratch strips, 6 x 1440: dark film base with a narrow bright groove down the middle that
// wanders a little sideways, changes width and strength, and breaks off here and there.

constexpr int kStripWidth = 6;
constexpr int kStripLength = 1440;
constexpr int kStripCount = 48;
constexpr double kStripTop = 251.0;
constexpr double kStripMean = 62.0;

Plane stripField(int index, Plane* base) {
    Rng rng(0x5C7A7C4ull * 31337ull + uint64_t(index) * 65537ull);
    const Noise wander(rng.next()), wobble(rng.next()), width(rng.next()), strength(rng.next()), flutter(rng.next());
    const Noise grain(rng.next()), shoulder(rng.next());
    const double centre = 2.5 + rng.range(-0.3, 0.3);
    const double wanderAmp = rng.range(0.1, 0.35), wanderScale = rng.range(1.0 / 400, 1.0 / 120);
    const double sigma = rng.range(0.45, 0.75);
    const bool twin = rng.chance(0.3);  // a second, weaker ridge: the groove's other lip
    const double twinOffset = rng.range(1.1, 1.6) * (rng.chance(0.5) ? 1.0 : -1.0), twinAmp = rng.range(0.2, 0.5);
    // Breaks: stretches where the groove fades to almost nothing, with soft ends.
    struct Break {
        double at, length, depth;
    };
    std::vector<Break> breaks;
    const int breakCount = rng.below(5);
    for (int i = 0; i < breakCount; ++i)
        breaks.push_back({rng.range(0, kStripLength), rng.chance(0.6) ? rng.range(3, 30) : rng.range(30, 160), rng.range(0.7, 1.0)});
    const int faintCount = rng.below(3);  // long stretches where the groove is shallower
    for (int i = 0; i < faintCount; ++i) breaks.push_back({rng.range(0, kStripLength), rng.range(80, 400), rng.range(0.3, 0.6)});
    // Chips: a few rows where the emulsion broke away beside the groove, brighter and wider.
    struct Chip {
        double at, length, strength;
    };
    std::vector<Chip> chips;
    const int chipCount = rng.below(8);
    for (int i = 0; i < chipCount; ++i) chips.push_back({rng.range(0, kStripLength), rng.range(1.5, 6.0), rng.range(0.3, 0.9)});
    const double baseLevel = rng.range(6.0, 18.0);
    Plane groove(kStripWidth, kStripLength);
    *base = Plane(kStripWidth, kStripLength);
    for (int y = 0; y < kStripLength; ++y) {
        const double cy = centre + wanderAmp * wander.fbm(y * wanderScale, 0.3, 3) + 0.12 * wobble.fbm(y * 0.05, 0.7, 2);
        const double sy = sigma * (1.0 + 0.3 * width.fbm(y * 0.012, 0.1, 3));
        double a = (0.7 + 0.4 * strength.fbm(y * 0.008, 0.9, 4)) * (1.0 + 0.15 * flutter.fbm(y * 0.3, 0.2, 2));
        for (const Break& b : breaks) {
            const double inside = smoothstep(b.at - 6.0, b.at, y) * (1.0 - smoothstep(b.at + b.length, b.at + b.length + 6.0, y));
            a *= 1.0 - b.depth * inside;
        }
        for (int x = 0; x < kStripWidth; ++x) {
            const double t = (x + 0.5 - cy) / sy;
            double v = exponential(-0.5 * t * t);
            if (twin) {
                const double t2 = (x + 0.5 - cy - twinOffset) / (0.8 * sy);
                v += twinAmp * exponential(-0.5 * t2 * t2);
            }
            // A faint glow around the groove, uneven along it.
            const double t3 = (x + 0.5 - cy) / (1.6 * sy);
            v += 0.06 * (0.5 + 0.5 * shoulder.fbm(y * 0.03, x * 0.5, 2)) * exponential(-0.5 * t3 * t3);
            for (const Chip& c : chips) {
                const double ty = (y - c.at) / c.length, tx = (x + 0.5 - cy) / (2.0 * sy);
                v += c.strength * exponential(-ty * ty - tx * tx);
            }
            groove.at(x, y) = std::max(0.0, a * v);
            base->at(x, y) = std::max(0.0, baseLevel * (1.0 + 1.6 * grain.fbm(x * 0.9, y * 0.9, 2)));
        }
    }
    return groove;
}

std::vector<Grey> makeStrips() {
    std::vector<Grey> out;
    Rng rng(0x57121Bull);
    std::vector<double> targets;
    double total = 0.0;
    for (int i = 0; i < kStripCount; ++i) total += targets.emplace_back(rng.range(48.0, 76.0));
    for (int i = 0; i < kStripCount; ++i) {
        Plane base(1, 1);
        const Plane groove = stripField(i, &base);
        const double target = targets[size_t(i)] * kStripMean * kStripCount / total;
        // How bright the groove is, found by bisection for the member's mean.
        auto levels = [&](double s) {
            Plane p = groove;
            for (size_t k = 0; k < p.v.size(); ++k) p.v[k] = kStripTop * knee((base.v[k] + s * groove.v[k]) / kStripTop);
            return p;
        };
        auto meanAt = [&](double s) {
            double sum = 0.0;
            for (double v : levels(s).v) sum += std::floor(v + 0.5);
            return sum / double(groove.v.size());
        };
        double lo = 0.0, hi = 4096.0;
        for (int k = 0; k < 50; ++k) {
            const double mid = 0.5 * (lo + hi);
            (meanAt(mid) < target ? lo : hi) = mid;
        }
        out.push_back(toGrey(levels(0.5 * (lo + hi)), 0.0, kStripTop));
    }
    return out;
}

// ---------------------------------------------------------------------------------------------
// Funk: 2048 x 2048 of mid-grey grime, overlaid on the picture, so 128 leaves it alone. Uneven
// development at the largest scale, blotches of several sizes, mottle, and sparse specks of dirt.
// It is kept smooth enough between blotches for its run-length coding to pay.

constexpr int kFunkSize = 2048;

Grey makeFunk() {
    Rng rng(0xF0DCull);
    const Noise uneven(rng.next()), mottle(rng.next()), dirt(rng.next());
    const Noise darkA(rng.next()), darkB(rng.next()), darkC(rng.next()), lightA(rng.next()), lightB(rng.next());
    Plane f(kFunkSize, kFunkSize);
    for (int y = 0; y < kFunkSize; ++y)
        for (int x = 0; x < kFunkSize; ++x) {
            double v = 126.0;
            v += 22.0 * uneven.fbm(x / 900.0, y / 900.0, 3);
            v -= 36.0 * smoothstep(0.12, 0.42, darkA.fbm(x / 260.0, y / 260.0, 5));
            v -= 25.0 * smoothstep(0.18, 0.45, darkB.fbm(x / 110.0, y / 110.0, 4));
            v -= 16.0 * smoothstep(0.25, 0.5, darkC.fbm(x / 45.0, y / 45.0, 3));
            v += 26.0 * smoothstep(0.15, 0.45, lightA.fbm(x / 200.0, y / 200.0, 5));
            v += 14.0 * smoothstep(0.25, 0.5, lightB.fbm(x / 70.0, y / 70.0, 3));
            v += 3.0 * mottle.fbm((x + 0.6 * y) / 21.0, (y - 0.6 * x) / 21.0, 3);
            f.at(x, y) = v;
        }
    // Sparse dirt: small dark specks and fewer light ones.
    const int specks = kFunkSize * kFunkSize / 350;
    for (int i = 0; i < specks; ++i) {
        const double cx = rng.range(0, kFunkSize), cy = rng.range(0, kFunkSize);
        if (rng.unit() > smoothstep(-0.4, 0.5, dirt.fbm(cx / 300.0, cy / 300.0, 3))) continue;  // dirt gathers
        const double radius = lerp(0.5, 2.8, rng.unit() * rng.unit());
        const double amount = rng.chance(0.8) ? -rng.range(15, 60) : rng.range(10, 40);
        const int reach = int(radius) + 2;
        for (int y = std::max(0, int(cy) - reach); y <= std::min(kFunkSize - 1, int(cy) + reach); ++y)
            for (int x = std::max(0, int(cx) - reach); x <= std::min(kFunkSize - 1, int(cx) + reach); ++x) {
                const double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
                f.at(x, y) += amount * (1.0 - smoothstep(radius * 0.5, radius + 0.7, std::sqrt(dx * dx + dy * dy)));
            }
    }
    return toGrey(f, 0.0, 255.0);
}

// ---------------------------------------------------------------------------------------------
// The contact sheet: every set at a glance, as a binary PGM.

struct Sheet {
    Grey g;
    Sheet(int w, int h, uint8_t fill) : g{w, h, std::vector<uint8_t>(size_t(w) * size_t(h), fill)} {}
    // Pastes `src` reduced by whole factors (box average) and widened by `widen` at (x0, y0).
    void paste(const Grey& src, int x0, int y0, int shrinkX, int shrinkY, int widen = 1) {
        for (int y = 0; y < src.height / shrinkY; ++y)
            for (int x = 0; x < src.width / shrinkX; ++x) {
                int sum = 0;
                for (int j = 0; j < shrinkY; ++j)
                    for (int i = 0; i < shrinkX; ++i) sum += src.at(x * shrinkX + i, y * shrinkY + j);
                const uint8_t v = uint8_t((sum + shrinkX * shrinkY / 2) / (shrinkX * shrinkY));
                for (int k = 0; k < widen; ++k) g.v[size_t(y0 + y) * size_t(g.width) + size_t(x0 + x * widen + k)] = v;
            }
    }
    void fill(int x0, int y0, int w, int h, uint8_t v) {
        for (int y = y0; y < y0 + h; ++y)
            for (int x = x0; x < x0 + w; ++x) g.v[size_t(y) * size_t(g.width) + size_t(x)] = v;
    }
};

bool writeSheet(const std::string& path, const Grey& funk, const std::vector<Grey>& splotches, const std::vector<Grey>& dust,
                const std::vector<Grey>& strips) {
    // Funk reduced to 512 x 512 beside the splotches at 100 x 100; the dust specks twice their size;
    // the scratch strips twice as wide and a third as long.
    const int margin = 6, width = 15 * 66 + 2 * margin;
    Sheet s(width, margin + 512 + margin + 8 * 66 + margin + 480 + margin, 70);
    s.paste(funk, margin, margin, 4, 4);
    const int splotchLeft = (margin + 512 + width - margin - (4 * 103 - 3)) / 2;
    for (int i = 0; i < kSplotchCount; ++i) s.paste(splotches[size_t(i)], splotchLeft + (i % 4) * 103, margin + (i / 4) * 103, 4, 4);
    const int dustTop = margin + 512 + margin;
    for (int i = 0; i < kDustCount; ++i) {
        Grey big{64, 64, std::vector<uint8_t>(64 * 64)};
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x) big.v[size_t(y * 64 + x)] = dust[size_t(i)].at(x / 2, y / 2);
        s.paste(big, margin + 1 + (i % 15) * 66, dustTop + 1 + (i / 15) * 66, 1, 1);
    }
    const int stripTop = dustTop + 8 * 66 + margin;
    s.fill(margin, stripTop, width - 2 * margin, 480, 0);
    const int stripPitch = (width - 2 * margin) / kStripCount, stripLeft = (width - kStripCount * stripPitch) / 2;
    for (int i = 0; i < kStripCount; ++i) s.paste(strips[size_t(i)], stripLeft + i * stripPitch + (stripPitch - 12) / 2, stripTop, 1, 3, 2);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    std::fprintf(f, "P5\n%d %d\n255\n", s.g.width, s.g.height);
    const bool ok = std::fwrite(s.g.v.data(), 1, s.g.v.size(), f) == s.g.v.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 && !(argc == 4 && std::string(argv[2]) == "--sheet")) {
        std::fprintf(stderr, "usage: %s OUT_DIR [--sheet SHEET.pgm]\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    const auto splotches = makeSplotches();
    const auto funk = makeFunk();
    const auto dust = makeDust();
    const auto strips = makeStrips();
    bool ok = true;
    auto save = [&](int id, const Grey& g, Storage storage) {
        ok = writeFile(dir + "/" + std::to_string(id) + ".bmp", encodeBitmap(g, storage)) && ok;
    };
    for (int i = 0; i < kSplotchCount; ++i) save(11001 + i, splotches[size_t(i)], Storage::Palette8);
    save(12001, funk, Storage::Rle8);
    for (int i = 0; i < kDustCount; ++i) save(13001 + i, dust[size_t(i)], Storage::Rgb24);
    for (int i = 0; i < kStripCount; ++i) save(14001 + i, strips[size_t(i)], Storage::Palette8);
    if (argc == 4) ok = writeSheet(argv[3], funk, splotches, dust, strips) && ok;
    if (!ok) std::fprintf(stderr, "texture_generator: could not write into %s\n", dir.c_str());
    return ok ? 0 : 1;
}
