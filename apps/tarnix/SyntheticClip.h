// A short clip that looks like footage rather than a test card: a woman in a red coat and
// yellow scarf walks across a meadow at golden hour while the camera pans slowly; a graded
// sky with clouds and sun glow, hazy hills, a tree line, grass with fine blades and flowers.
// Everything is procedural and deterministic.
#pragma once

#include <cstdint>
#include <vector>

#include "refhost/Images.h"

namespace tarnix {

class SyntheticClip {
public:
    SyntheticClip(int width, int height, int frameCount);
    // Frame `index` (0 .. frameCount - 1) into an 8-bit image of the clip's size.
    void render(int index, refhost::Image& image) const;

    int width() const { return mWidth; }
    int height() const { return mHeight; }

private:
    struct Colour {
        float r, g, b;
    };
    Colour background(float x, float y) const;  // bilinear from the panning canvas
    void drawWalker(float t, std::vector<Colour>& frame) const;

    int mWidth, mHeight, mFrameCount;
    int mCanvasWidth;
    std::vector<Colour> mCanvas;  // the landscape, wider than a frame for the pan
};

}  // namespace tarnix
