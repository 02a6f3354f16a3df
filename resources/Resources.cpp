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
