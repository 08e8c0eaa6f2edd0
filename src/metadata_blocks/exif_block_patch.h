// The source's Exif block with the values of the metadata list put in
// place, so that nothing the block holds moves.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "metadata_blocks/exif_items.h"
#include "platform/user_data.h"

// The block (a TIFF structure) with every IFD0, EXIF, GPS and
// interoperability field whose item holds another value changed, in the
// item's field type: in place when the new value fits where the old one
// was, else appended at the end with the field pointing there. An IFD that
// gains or loses fields is written anew at the end; IFD0's fields
// describing the source's own encoding are dropped. IFD1 and the thumbnail
// it points to are taken out first, what follows them closing up; when a
// maker note that counts offsets from the start of the block (and so cannot
// move) is there, only what ends the block is cut off and the thumbnail's
// bytes elsewhere are zeroed. Nothing else moves: a maker note keeps its
// place among the other values, and with it every pointer inside it.
// Nothing when the block cannot be read as a TIFF structure.
std::optional<std::vector<uint8_t>> PatchExifBlock(std::span<const uint8_t> block, UserData ud,
                                                   LooseTextItems loose);

// Whether a maker note counts its offsets from its own start (or carries a
// TIFF header of its own), so that it stays valid wherever it is placed.
bool IsSelfContainedMakerNote(std::span<const uint8_t> note);
