#include "apps/tarnix/SyntheticClip.h"

#include <algorithm>
#include <cmath>

namespace tarnix {

namespace {

constexpr float kPi = 3.14159265f;
constexpr float kHorizon = 0.52f;  // in picture heights from the top

// A well-mixed hash: weaker ones show as diagonal streaks in stretched noise.
uint32_t hash(int32_t x, int32_t y, uint32_t seed) {
    uint32_t h = (uint32_t(x) * 0x8DA6B343u) ^ (uint32_t(y) * 0xD8163841u) ^ (seed * 0xCB1AB31Fu);
    h ^= h >> 16;
    h *= 0x85EBCA6Bu;
    h ^= h >> 13;
    h *= 0xC2B2AE35u;
    return h ^ (h >> 16);
}

float unit(uint32_t h) { return float(h & 0xFFFFFF) / float(0xFFFFFF); }

float smooth(float t) { return t * t * (3.0f - 2.0f * t); }
float clamp01(float v) { return std::min(1.0f, std::max(0.0f, v)); }
float smoothstep(float a, float b, float v) { return smooth(clamp01((v - a) / (b - a))); }

float valueNoise(float x, float y, uint32_t seed) {
    const float fx = std::floor(x), fy = std::floor(y);
    const int32_t ix = int32_t(fx), iy = int32_t(fy);
    const float tx = smooth(x - fx), ty = smooth(y - fy);
    const float a = unit(hash(ix, iy, seed)), b = unit(hash(ix + 1, iy, seed));
    const float c = unit(hash(ix, iy + 1, seed)), d = unit(hash(ix + 1, iy + 1, seed));
    return (a + (b - a) * tx) + ((c + (d - c) * tx) - (a + (b - a) * tx)) * ty;
}

// Fractal noise in 0..1.
float fbm(float x, float y, int octaves, uint32_t seed) {
    float sum = 0, amplitude = 0.5f, norm = 0;
    for (int i = 0; i < octaves; ++i) {
        sum += amplitude * valueNoise(x, y, seed + uint32_t(i) * 101u);
        norm += amplitude;
        x = x * 2.03f + 17.0f;
        y = y * 2.03f + 31.0f;
        amplitude *= 0.5f;
    }
    return sum / norm;
}

struct RGB {
    float r, g, b;
};
RGB mix(RGB a, RGB b, float t) { return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t}; }
RGB scale(RGB a, float k) { return {a.r * k, a.g * k, a.b * k}; }
RGB add(RGB a, RGB b) { return {a.r + b.r, a.g + b.g, a.b + b.b}; }

// Signed distances in pixels, positive inside; a coverage of 0.5 + d anti-aliases the edge.
float capsule(float px, float py, float ax, float ay, float bx, float by, float radius) {
    const float dx = bx - ax, dy = by - ay;
    const float t = clamp01(((px - ax) * dx + (py - ay) * dy) / std::max(1e-6f, dx * dx + dy * dy));
    const float ex = px - (ax + t * dx), ey = py - (ay + t * dy);
    return radius - std::sqrt(ex * ex + ey * ey);
}

// Where across a limb a point lies: -1 at its left edge, 1 at its right edge.
float across(float px, float py, float ax, float ay, float bx, float by, float radius) {
    const float dx = bx - ax, dy = by - ay;
    const float t = clamp01(((px - ax) * dx + (py - ay) * dy) / std::max(1e-6f, dx * dx + dy * dy));
    return (px - (ax + t * dx)) / radius;
}

float ellipse(float px, float py, float cx, float cy, float rx, float ry) {
    const float nx = (px - cx) / rx, ny = (py - cy) / ry;
    return (1.0f - std::sqrt(nx * nx + ny * ny)) * std::min(rx, ry);
}

// A little softer than one pixel, as a lens renders edges.
float coverage(float distance) { return clamp01(0.5f + distance / 1.4f); }

}  // namespace

SyntheticClip::SyntheticClip(int width, int height, int frameCount)
    : mWidth(width), mHeight(height), mFrameCount(std::max(1, frameCount)) {
    mCanvasWidth = int(std::lround(width * 1.2));
    mCanvas.resize(size_t(mCanvasWidth) * size_t(height));
    const float H = float(height);
    const float sunU = float(mCanvasWidth) / H * 0.80f, sunV = 0.31f;

    for (int y = 0; y < height; ++y) {
        const float v = (float(y) + 0.5f) / H;
        for (int x = 0; x < mCanvasWidth; ++x) {
            const float u = (float(x) + 0.5f) / H;
            // Sky: deep blue overhead, warm towards the horizon, the sun's glow and clouds.
            const float sv = clamp01(v / kHorizon);
            RGB c = sv < 0.5f ? mix({0.20f, 0.35f, 0.62f}, {0.52f, 0.60f, 0.76f}, sv / 0.5f)
                              : mix({0.52f, 0.60f, 0.76f}, {0.98f, 0.74f, 0.50f}, smooth((sv - 0.5f) / 0.5f));
            const float du = u - sunU, dv = v - sunV, d2 = du * du + dv * dv;
            c = add(c, scale({1.0f, 0.78f, 0.50f}, 0.50f * std::exp(-d2 / 0.03f) + 0.55f * std::exp(-d2 / 0.0012f)));
            const float cloud = fbm(u * 2.6f, v * 8.0f, 5, 11);
            const float density = smoothstep(0.50f, 0.72f, cloud) * (1.0f - 0.5f * sv);
            const RGB cloudLit = mix({0.93f, 0.88f, 0.88f}, {1.0f, 0.80f, 0.62f}, sv);
            const float underside = 0.82f + 0.3f * fbm(u * 6.0f, v * 16.0f, 3, 12);
            c = mix(c, scale(cloudLit, underside), density * 0.85f);
            if (d2 < 0.0009f) c = mix(c, {1.0f, 0.97f, 0.90f}, smoothstep(0.0009f, 0.0005f, d2));

            // Hazy hills, then a darker tree line; edges anti-aliased over one pixel.
            const float hillTop = kHorizon - 0.085f - 0.06f * fbm(u * 1.8f, 3.7f, 4, 21);
            const float hillCover = clamp01((v - hillTop) * H + 0.5f);
            if (hillCover > 0) {
                const float depth = clamp01((v - hillTop) / (kHorizon - hillTop));
                RGB hill = mix({0.58f, 0.55f, 0.66f}, {0.40f, 0.40f, 0.50f}, depth);
                hill = scale(hill, 0.93f + 0.14f * fbm(u * 14.0f, v * 14.0f, 3, 22));
                c = mix(c, hill, hillCover);
            }
            const float crowns = std::pow(fbm(u * 7.0f, 1.3f, 4, 31), 1.6f);
            const float treeTop = kHorizon - 0.012f - 0.075f * crowns - 0.012f * valueNoise(u * 60.0f, 0.5f, 32);
            const float treeCover = clamp01((v - treeTop) * H + 0.5f);
            if (treeCover > 0) {
                const float leaves = fbm(u * 80.0f, v * 80.0f, 3, 33);
                RGB tree = scale({0.10f, 0.18f, 0.09f}, 0.65f + 0.75f * leaves);
                // Sun on the crowns' upper edge.
                const float rim = std::exp(-(v - treeTop) * H * 0.35f) * clamp01(0.4f + (u - sunU * 0.5f));
                tree = add(tree, scale({0.45f, 0.36f, 0.14f}, 0.55f * rim * leaves));
                c = mix(c, tree, treeCover);
            }
            // Meadow: yellow-green in the distance, rich green close by, blades getting
            // longer and wider towards the bottom of the frame.
            if (v > kHorizon) {
                const float s = clamp01((v - kHorizon) / (1.0f - kHorizon));
                RGB grass = mix({0.60f, 0.62f, 0.30f}, {0.16f, 0.34f, 0.09f}, std::pow(s, 0.7f));
                const float px = float(x), py = float(y);
                // Fixed scales blended by distance: scales that vary with the row would fan
                // the blades out like streaks.
                const float fine = 0.6f * valueNoise(px, py / 3.0f, 41) + 0.4f * valueNoise(px / 2.0f, py / 5.0f, 42);
                const float coarse = 0.6f * valueNoise(px / 3.0f, py / 14.0f, 45) + 0.4f * valueNoise(px / 6.0f, py / 22.0f, 46);
                const float blades = fine + (coarse - fine) * s;
                const float patches = fbm(u * 3.0f, v * 7.0f, 4, 43);
                const float clumps = fbm(px / (6.0f + 20.0f * s), py / (3.0f + 10.0f * s), 3, 44);
                grass = scale(grass, (0.62f + 0.75f * blades) * (0.8f + 0.4f * patches) * (0.7f + 0.55f * clumps));
                grass = add(grass, scale({0.16f, 0.12f, 0.02f}, blades * blades * blades));
                grass = mix(grass, {0.86f, 0.74f, 0.56f}, 0.35f * std::pow(1.0f - s, 5.0f));
                c = grass;
            }
            mCanvas[size_t(y) * size_t(mCanvasWidth) + size_t(x)] = {c.r, c.g, c.b};
        }
    }

    // Flowers: poppies, buttercups and daisies, bigger in the foreground.
    const int flowers = int(0.004f * float(mCanvasWidth) * H);
    for (int i = 0; i < flowers; ++i) {
        const float s = std::pow(unit(hash(i, 1, 51)), 0.8f);
        const float fy = (kHorizon + 0.01f + s * (0.99f - kHorizon)) * H;
        const float fx = unit(hash(i, 2, 51)) * float(mCanvasWidth);
        // They grow in drifts, not evenly.
        if (fbm(fx / H * 5.0f, fy / H * 12.0f, 3, 52) < 0.55f) continue;
        const float radius = 0.35f + 2.6f * s * s + 0.5f * unit(hash(i, 3, 51)) * s;
        const float kind = unit(hash(i, 4, 51));
        const RGB petal = kind < 0.45f ? RGB{0.86f, 0.10f, 0.06f} : kind < 0.8f ? RGB{0.98f, 0.80f, 0.12f} : RGB{0.95f, 0.94f, 0.90f};
        const int x0 = std::max(0, int(fx - radius - 2)), x1 = std::min(mCanvasWidth - 1, int(fx + radius + 2));
        const int y0 = std::max(0, int(fy - radius - 2)), y1 = std::min(height - 1, int(fy + radius + 2));
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x) {
                const float dx = float(x) + 0.5f - fx, dy = float(y) + 0.5f - fy;
                const float r = std::sqrt(dx * dx + dy * dy);
                const float a = coverage(radius - r);
                if (a <= 0) continue;
                RGB p = scale(petal, 0.85f + 0.3f * clamp01(-dy / std::max(radius, 0.5f) + 0.5f));
                if (radius > 1.5f && r < radius * 0.35f) p = kind < 0.45f ? RGB{0.08f, 0.05f, 0.04f} : RGB{0.95f, 0.65f, 0.10f};
                Colour& dst = mCanvas[size_t(y) * size_t(mCanvasWidth) + size_t(x)];
                const RGB mixed = mix({dst.r, dst.g, dst.b}, p, a);
                dst = {mixed.r, mixed.g, mixed.b};
            }
    }
}

SyntheticClip::Colour SyntheticClip::background(float x, float y) const {
    const int x0 = std::clamp(int(std::floor(x)), 0, mCanvasWidth - 2);
    const int y0 = std::clamp(int(y), 0, mHeight - 1);
    const float t = clamp01(x - float(x0));
    const Colour& a = mCanvas[size_t(y0) * size_t(mCanvasWidth) + size_t(x0)];
    const Colour& b = mCanvas[size_t(y0) * size_t(mCanvasWidth) + size_t(x0) + 1];
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

void SyntheticClip::drawWalker(float t, std::vector<Colour>& frame) const {
    const float W = float(mWidth), H = float(mHeight);
    const float P = 0.70f * H;  // her height in pixels: a medium-wide shot
    const float phase = t / 24.0f * 2.0f * kPi * 0.9f;
    const float footY = 0.95f * H;
    // She crosses most of the frame over the clip: a stroll over the demo's four seconds.
    const float cx = W * (0.12f + 0.72f * t / float(mFrameCount));
    const float top = footY - P - 0.012f * P * std::fabs(std::cos(phase));
    const float swing = std::sin(phase);

    const RGB skin{0.90f, 0.67f, 0.55f}, coat{0.80f, 0.07f, 0.09f}, jeans{0.13f, 0.20f, 0.42f};
    const RGB hair{0.24f, 0.14f, 0.08f}, scarf{0.99f, 0.78f, 0.10f}, shoe{0.10f, 0.07f, 0.06f};

    const float hipY = top + 0.56f * P, shoulderY = top + 0.19f * P, legLength = 0.42f * P, armLength = 0.32f * P;
    const float headX = cx + 0.012f * P, headY = top + 0.068f * P, headRx = 0.047f * P, headRy = 0.062f * P;

    const int x0 = std::max(0, int(cx - 0.5f * P)), x1 = std::min(mWidth - 1, int(cx + 0.5f * P));
    const int y0 = std::max(0, int(top - 4)), y1 = std::min(mHeight - 1, int(footY + 0.06f * P));
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) {
            const float px = float(x) + 0.5f, py = float(y) + 0.5f;
            Colour& dst = frame[size_t(y) * size_t(mWidth) + size_t(x)];
            RGB c{dst.r, dst.g, dst.b};
            auto paint = [&](float distance, RGB colour) { c = mix(c, colour, coverage(distance)); };
            // Light comes from the low sun on the right, with a warm rim where it grazes.
            auto lit = [&](RGB base, float where) {
                const float a = std::clamp(where, -1.0f, 1.0f);
                return mix(scale(base, 0.72f + 0.38f * a), {1.0f, 0.80f, 0.58f}, 0.35f * smoothstep(0.65f, 1.0f, a));
            };

            // Her shadow falls to the left, soft at the edges.
            const float shadow = ellipse(px, py, cx - 0.16f * P, footY + 0.005f * P, 0.24f * P, 0.03f * P);
            if (shadow > -6) c = scale(c, 1.0f - 0.38f * smoothstep(-6.0f, 6.0f, shadow));

            // Far limbs first, a little darker.
            const float farFootX = cx - 0.02f * P - legLength * 0.36f * swing;
            paint(capsule(px, py, cx - 0.02f * P, hipY, farFootX, footY - 0.02f * P, 0.031f * P), scale(jeans, 0.7f));
            paint(ellipse(px, py, farFootX + 0.02f * P, footY - 0.012f * P, 0.042f * P, 0.018f * P), shoe);
            const float farHandX = cx - 0.05f * P + armLength * 0.33f * swing;
            paint(capsule(px, py, cx - 0.05f * P, shoulderY + 0.02f * P, farHandX, shoulderY + armLength, 0.027f * P),
                  scale(coat, 0.62f));

            // Coat: a trapezoid from the shoulders to below the hips, with folds.
            const float coatTop = shoulderY - 0.01f * P, coatHem = top + 0.63f * P;
            const float f = clamp01((py - coatTop) / (coatHem - coatTop));
            const float halfWidth = (0.078f + 0.03f * f) * P;
            const float side = (px - cx) / halfWidth;
            const float coatDistance = std::min({halfWidth - std::fabs(px - cx), py - coatTop, coatHem - py});
            if (coatDistance > -1) {
                RGB cloth = lit(coat, side * 0.8f);
                // Folds, the weave, and less light under the arms and towards the hem.
                cloth = scale(cloth, (0.94f + 0.08f * std::sin(side * 7.0f + f * 2.0f) + 0.04f * valueNoise(px * 0.9f, py * 0.9f, 61)) *
                                         (1.0f - 0.18f * f) * (1.0f - 0.12f * smoothstep(0.6f, 1.0f, std::fabs(side)) * (1.0f - f)));
                paint(coatDistance, cloth);
            }

            // Near leg and shoe.
            const float nearFootX = cx + 0.02f * P + legLength * 0.36f * swing;
            paint(capsule(px, py, cx + 0.02f * P, hipY, nearFootX, footY - 0.02f * P, 0.033f * P),
                  lit(jeans, across(px, py, cx + 0.02f * P, hipY, nearFootX, footY - 0.02f * P, 0.033f * P)));
            paint(ellipse(px, py, nearFootX + 0.022f * P, footY - 0.012f * P, 0.045f * P, 0.019f * P), shoe);

            // Neck, head with shading, a warm cheek and an eye, then the hair.
            paint(capsule(px, py, cx + 0.008f * P, top + 0.11f * P, cx + 0.006f * P, shoulderY, 0.023f * P),
                  lit(scale(skin, 0.85f), (px - cx) / (0.023f * P)));
            const float head = ellipse(px, py, headX, headY, headRx, headRy);
            if (head > -1) {
                const float hx = (px - headX) / headRx, hy = (py - headY) / headRy;
                RGB face = lit(skin, hx * 0.9f - 0.2f * hy);
                const float cheek = std::exp(-((hx - 0.45f) * (hx - 0.45f) + (hy - 0.3f) * (hy - 0.3f)) / 0.06f);
                face = add(face, scale({0.10f, -0.04f, -0.03f}, cheek));
                const float eye = ellipse(px, py, headX + 0.6f * headRx, headY - 0.05f * headRy, 0.09f * headRx, 0.07f * headRy);
                face = mix(face, {0.12f, 0.07f, 0.05f}, coverage(eye));
                paint(head, face);
            }
            const float crown = ellipse(px, py, headX - 0.10f * headRx, headY - 0.18f * headRy, 1.08f * headRx, 0.92f * headRy);
            const float faceCut = std::max(headY - 0.12f * headRy - py, headX + 0.05f * headRx - px);
            const float back = ellipse(px, py, headX - 0.55f * headRx, headY + 0.75f * headRy, 0.55f * headRx, 0.85f * headRy);
            const float hairDistance = std::max(std::min(crown, faceCut), back);
            if (hairDistance > -1) {
                const float strands = valueNoise(px * 0.25f, py * 2.2f, 71);
                paint(hairDistance, add(scale(hair, 0.75f + 0.5f * strands), scale({0.30f, 0.20f, 0.10f}, clamp01((px - headX) / headRx) * 0.6f)));
            }

            // Scarf: a band at the collar and a tail lifting behind her.
            paint(capsule(px, py, cx - 0.045f * P, shoulderY - 0.008f * P, cx + 0.05f * P, shoulderY - 0.005f * P, 0.024f * P),
                  lit(scarf, (px - cx) / (0.05f * P)));
            const float flutter = 0.02f * P * std::sin(phase * 1.3f);
            paint(capsule(px, py, cx - 0.04f * P, shoulderY, cx - 0.11f * P, shoulderY + 0.11f * P + flutter, 0.018f * P),
                  scale(scarf, 0.8f));

            // Near arm and hand.
            const float nearHandX = cx + 0.05f * P - armLength * 0.33f * swing;
            paint(capsule(px, py, cx + 0.05f * P, shoulderY + 0.02f * P, nearHandX, shoulderY + armLength, 0.028f * P),
                  lit(coat, 0.3f + across(px, py, cx + 0.05f * P, shoulderY + 0.02f * P, nearHandX, shoulderY + armLength, 0.028f * P)));
            paint(ellipse(px, py, nearHandX, shoulderY + armLength + 0.02f * P, 0.022f * P, 0.026f * P), lit(skin, 0.3f));
            dst = {c.r, c.g, c.b};
        }
}

void SyntheticClip::render(int index, refhost::Image& image) const {
    const float t = float(index);
    // The camera pans slowly to the right across the wider landscape.
    const float pan = float(mCanvasWidth - mWidth - 1) * t / float(mFrameCount);
    std::vector<Colour> frame(size_t(mWidth) * size_t(mHeight));
    for (int y = 0; y < mHeight; ++y)
        for (int x = 0; x < mWidth; ++x) frame[size_t(y) * size_t(mWidth) + size_t(x)] = background(float(x) + pan, float(y));
    drawWalker(t, frame);

    // To 8 bits with a little dither, as a camera's own noise would keep the sky from banding.
    for (int y = 0; y < mHeight; ++y)
        for (int x = 0; x < mWidth; ++x) {
            const Colour& c = frame[size_t(y) * size_t(mWidth) + size_t(x)];
            const float dither = unit(hash(x, y, uint32_t(index) + 1000u)) - unit(hash(x, y, uint32_t(index) + 5000u));
            auto code = [&](float v) { return uint32_t(std::clamp(v * 255.0f + 0.5f + dither * 0.6f, 0.0f, 255.0f)); };
            image.setChannel(uint32_t(x), uint32_t(y), 0, 255);
            image.setChannel(uint32_t(x), uint32_t(y), 1, code(c.r));
            image.setChannel(uint32_t(x), uint32_t(y), 2, code(c.g));
            image.setChannel(uint32_t(x), uint32_t(y), 3, code(c.b));
        }
}

}  // namespace tarnix
