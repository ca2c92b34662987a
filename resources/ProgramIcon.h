#pragma once

namespace devupdate::res {

// Icon 128 of the program, drawn for this tool: a chip with its pins and a
// green arrow flowing into it. Two images, 32 x 32 and 16 x 16, as XPM text
// (colour table plus one string per pixel row) so that the data stays free
// of any window library; the window layer turns them into pixmaps.

extern const char* const PROGRAM_ICON_32[];
extern const char* const PROGRAM_ICON_16[];

}  // namespace devupdate::res
