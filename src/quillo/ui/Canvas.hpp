#pragma once

#include "quillo/ui/Color.hpp"

namespace quillo {

struct Point {
    double x = 0.0;
    double y = 0.0;
    friend bool operator==(const Point&, const Point&) = default;
};

struct Rect {
    double x = 0.0;
    double y = 0.0;
    double width = 0.0;
    double height = 0.0;
    friend bool operator==(const Rect&, const Rect&) = default;
};

struct Size {
    double width = 0.0;
    double height = 0.0;
    friend bool operator==(const Size&, const Size&) = default;
};

// A 2-D drawing surface with its origin at the lower-left corner and y growing upward.
// The bar draws only through these operations, so each host brings its own surface
// (a painter, character cells, a recording for tests).
class Canvas {
  public:
    virtual ~Canvas() = default;
    virtual void saveGraphicsState() = 0;
    virtual void restoreGraphicsState() = 0;
    virtual void strokeRoundedRect(const Rect& rect, double radius, double lineWidth,
                                   const Color& color) = 0;
    virtual void fillRoundedRect(const Rect& rect, double radius, const Color& color) = 0;
    // A straight line with round caps of radius lineWidth / 2.
    virtual void strokeRoundCappedLine(const Point& from, const Point& to, double lineWidth,
                                       const Color& color) = 0;
};

}  // namespace quillo
