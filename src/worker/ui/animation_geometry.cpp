// Frame stepping and placement of the animation panel, apart from the drawing so that they are tested
// without a display.
#include "animation_geometry.h"

static int Smaller(int a, int b)
{
    return a < b ? a : b;
}

unsigned short FrameCount(int stripWidth, int side)
{
    if (stripWidth <= 0 || side <= 0)
        return 0;
    // Division instead of adding up sides: a one-pixel-high strip of a huge width must not loop for long.
    unsigned count = static_cast<unsigned>(stripWidth / side) + (stripWidth % side ? 1u : 0u);
    return static_cast<unsigned short>(count > 0xFFFFu ? 0xFFFFu : count);
}

unsigned short NextFrame(unsigned short current, unsigned short frameCount)
{
    unsigned short next = static_cast<unsigned short>(current + 1);
    return next < frameCount ? next : 0;
}

bool PlaceFrame(int clientWidth, int clientHeight, int side, int stripWidth, unsigned short frame,
                FramePlacement *placement)
{
    if (side <= 0 || clientWidth <= 0 || clientHeight <= 0)
        return false;
    long long sourceX = static_cast<long long>(frame) * side;
    if (sourceX >= stripWidth)
        return false;
    placement->x = side < clientWidth ? (clientWidth - side) / 2 : 0;
    placement->y = side < clientHeight ? (clientHeight - side) / 2 : 0;
    placement->width = Smaller(Smaller(side, clientWidth), static_cast<int>(stripWidth - sourceX));
    placement->height = Smaller(side, clientHeight);
    placement->sourceX = static_cast<int>(sourceX);
    return true;
}
