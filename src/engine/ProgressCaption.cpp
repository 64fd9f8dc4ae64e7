#include "ProgressCaption.h"

#include <cmath>
#include <cstdio>

namespace {

// The fraction of the range covered. An empty or inverted range counts as
// nothing filled: dividing by it would give infinities whose conversion to
// pixels is undefined.
double Fraction(int position, int minimum, int maximum) {
  if (minimum >= maximum) return 0.0;
  return (static_cast<double>(position) - minimum) / (static_cast<double>(maximum) - minimum);
}

}  // namespace

int ProgressFilledWidth(int clientWidth, int position, int minimum, int maximum) {
  if (clientWidth <= 0) return 0;
  double w = std::trunc(clientWidth * Fraction(position, minimum, maximum));
  // A position outside the range cannot fill more than the bar or less than
  // nothing; clamping also keeps the conversion defined.
  if (w < 0) w = 0;
  if (w > clientWidth) w = clientWidth;
  return static_cast<int>(w);
}

std::string ProgressDefaultCaption(int position, int minimum, int maximum) {
  double percent = std::trunc(Fraction(position, minimum, maximum) * 100.0);
  if (percent > 1e9) percent = 1e9;
  if (percent < -1e9) percent = -1e9;
  char text[64];
  std::snprintf(text, sizeof text, "Download Complete %d%%", static_cast<int>(percent));
  return text;
}
