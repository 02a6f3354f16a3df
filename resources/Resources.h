#pragma once

#include <cstddef>
#include <cstdint>

// A compiled-in resource: the bytes of a .bmp file, or none.
struct ResourceData {
    const uint8_t* data = nullptr;
    std::size_t size = 0;
};

// Resource ids of the built-in pictures; the figures' frames are numbered in
// FigureIds.h.
namespace ResourceId {
constexpr int kAboutPicture = 178;
// The same frames drawn at 192x192, for two device pixels to a pixel, are
// kDoubleSizeFrames + 10 * f + k + 1.
constexpr int kDoubleSizeFrames = 1000;
}

// Frame id (10 * f + k + 1) of a built-in figure as drawn for an art scale:
// 1 gives the 96x96 frame, 2 the 192x192 one; no other scale has art.
ResourceData findFrameResource(int id, int artScale);

// Finds a built-in resource by id through the current lookup.
ResourceData findResource(int id);

// The lookup over the pictures compiled into the program.
ResourceData builtInResource(int id);

// Replaces the lookup (tests supply their own pictures); nullptr restores the
// built-in one.
using ResourceLookup = ResourceData (*)(int id);
void setResourceLookup(ResourceLookup lookup);
