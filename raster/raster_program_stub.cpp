// The hinting programs' entry points. Until the interpreter exists they run
// nothing: outlines are rendered as scaled, and the graphics state keeps the
// start values it was constructed with.
#include "raster/raster.h"

void Rasterizer::runFontProgram()
{
}

void Rasterizer::calcCVT()
{
}

void Rasterizer::runGlyphProgram(MappedFile&, int32_t, int32_t)
{
}
