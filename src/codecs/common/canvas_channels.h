// The channels an animation writer keeps of each canvas it is given, as a
// still's exporter packs its rows at the same depth (row_packer.h): grey
// made of the colour's luma, alpha made opaque where the depth holds none.
#pragma once

#include <cstdint>
#include <memory>

#include "base/pixel_view.h"
#include "platform/animation.h"

// In place, on canvas bytes (A, R, G, B).
void KeepCanvasChannels(const PixelView& canvas, int32_t depth);

// The writer, given each canvas with the channels depth keeps; nullptr when
// there is no memory for the wrapper.
std::unique_ptr<AnimationWriter> KeepingChannels(std::unique_ptr<AnimationWriter> writer,
                                                 int32_t depth);
