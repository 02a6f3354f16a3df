#include "resources/Resources.h"

namespace {
ResourceLookup currentLookup = nullptr;
}

ResourceData findResource(int id)
{
    return currentLookup ? currentLookup(id) : builtInResource(id);
}

void setResourceLookup(ResourceLookup lookup)
{
    currentLookup = lookup;
}

ResourceData findFrameResource(int id, int artScale)
{
    // Only frame ids map to 2x art: the about picture and anything else stay out.
    if (id < 1 || id >= 100)
        return {};
    if (artScale == 1)
        return findResource(id);
    if (artScale == 2)
        return findResource(ResourceId::kDoubleSizeFrames + id);
    return {};
}
