// What a text progress bar shows, whatever draws it: how much of its width
// is filled and the caption it writes while no text is set.
#pragma once

#include <string>

/// Filled width for a client width: width × (pos − min) / (max − min),
/// truncated and kept within 0..width; 0 for an empty range.
int ProgressFilledWidth(int clientWidth, int position, int minimum, int maximum);

/// The caption shown while no text is set ("Download Complete %d%%").
std::string ProgressDefaultCaption(int position, int minimum, int maximum);
