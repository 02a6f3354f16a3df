#include "platform/FigureSurface.h"

FigureSurface::~FigureSurface() = default;
