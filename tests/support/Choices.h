#pragma once

#include "VelmoraDlg.h"

/// Changes the operator's choices as the buttons would leave them.
template <class Change>
void ChangeChoices(CVelmoraDlg& d, Change change) {
  ImageChoices c = d.Choices();
  change(c);
  d.Choose(c);
}
