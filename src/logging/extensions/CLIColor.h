#pragma once

// A plain colour record: red, green, blue and alpha, each from 0 to 1, calibrated RGB. It stands for a colour
// wherever the terminal logger asks for one. Immutable; copy it freely across threads.
class CLIColor {
  public:
    // Holds the four values unchanged.
    static CLIColor colorWithCalibratedRed(double red, double green, double blue, double alpha);

    // Copies each component to its destination; a null destination is skipped.
    void getRed(double* red, double* green, double* blue, double* alpha) const;

  private:
    CLIColor(double red, double green, double blue, double alpha)
        : _red(red), _green(green), _blue(blue), _alpha(alpha) {}

    double _red;
    double _green;
    double _blue;
    double _alpha;
};
