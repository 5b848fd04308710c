// The animation's frame strip: square frames side by side, each as wide as the strip is high.
#pragma once

// Whole or partial squares that cover the strip's width: ceil(width / side). 0 for an empty strip or a
// side below 1; capped at 65535, the largest count the panel keeps.
unsigned short FrameCount(int stripWidth, int side);

// The frame after `current`: 0 again once the count is reached. With a count of 0 or 1 it stays 0.
unsigned short NextFrame(unsigned short current, unsigned short frameCount);

// Where frame `frame` lands in a client area of width x height and which part of the strip it shows.
struct FramePlacement {
    int x, y;          // target position in the client area
    int width, height; // size of the copy
    int sourceX;       // left edge of the frame in the strip; the copy starts at strip row 0
};

// A frame smaller than the client area is centred, an odd pixel of space going to the right or bottom; a
// larger one starts at the top-left corner and is cut at the client's edge. A partial last frame is cut at
// the strip's right edge, so the panel's background shows where the strip ends. False when nothing of the
// frame is visible.
bool PlaceFrame(int clientWidth, int clientHeight, int side, int stripWidth, unsigned short frame,
                FramePlacement *placement);
