#include "logging/extensions/CLIColor.h"

CLIColor CLIColor::colorWithCalibratedRed(double red, double green, double blue, double alpha) {
    return CLIColor(red, green, blue, alpha);
}

void CLIColor::getRed(double* red, double* green, double* blue, double* alpha) const {
    if (red != nullptr) *red = _red;
    if (green != nullptr) *green = _green;
    if (blue != nullptr) *blue = _blue;
    if (alpha != nullptr) *alpha = _alpha;
}
