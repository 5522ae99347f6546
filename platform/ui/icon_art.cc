#include "platform/ui/icon_art.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

namespace kst::ui {
namespace {

using Shape = std::function<bool(double u, double v)>;

constexpr uint32_t kWhite = 0xffffffff;
constexpr uint32_t kBlack = 0xff202020;

uint32_t Darker(uint32_t c) {
  auto channel = [c](int shift) { return static_cast<uint32_t>(((c >> shift) & 0xff) * 55 / 100) << shift; };
  return 0xff000000u | channel(16) | channel(8) | channel(0);
}

uint32_t Grey(uint32_t c) {
  uint32_t r = (c >> 16) & 0xff, g = (c >> 8) & 0xff, b = c & 0xff;
  uint32_t y = (r * 30 + g * 59 + b * 11) / 100;
  y = 110 + y * 110 / 255;
  return (c & 0xff000000u) | (y << 16) | (y << 8) | y;
}

class Canvas {
 public:
  Canvas(int w, int h, bool off) : w_(w), h_(h), off_(off), px_(static_cast<size_t>(w) * h, 0) {}

  // Fills the shape (given in unit coordinates) and rings it with a darker
  // edge when outline is set.
  void Fill(const Shape& shape, uint32_t colour, bool outline = true) {
    if (off_) colour = Grey(colour);
    for (int y = 0; y < h_; ++y) {
      for (int x = 0; x < w_; ++x) {
        if (!Inside(shape, x, y)) continue;
        bool edge = outline && (!Inside(shape, x - 1, y) || !Inside(shape, x + 1, y) ||
                                !Inside(shape, x, y - 1) || !Inside(shape, x, y + 1));
        px_[static_cast<size_t>(y) * w_ + x] = edge ? Darker(colour) : colour;
      }
    }
  }
  Icon Done() { return Icon(w_, h_, std::move(px_)); }

 private:
  bool Inside(const Shape& shape, int x, int y) const {
    if (x < 0 || y < 0 || x >= w_ || y >= h_) return false;
    return shape((x + 0.5) / w_, (y + 0.5) / h_);
  }
  int w_, h_;
  bool off_;
  std::vector<uint32_t> px_;
};

Shape Box(double u0, double v0, double u1, double v1) {
  return [=](double u, double v) { return u >= u0 && u <= u1 && v >= v0 && v <= v1; };
}

Shape Disc(double cu, double cv, double ru, double rv) {
  return [=](double u, double v) {
    double a = (u - cu) / ru, b = (v - cv) / rv;
    return a * a + b * b <= 1.0;
  };
}

// Points within width of the segment.
Shape Stroke(double u0, double v0, double u1, double v1, double width) {
  return [=](double u, double v) {
    double du = u1 - u0, dv = v1 - v0;
    double t = std::clamp(((u - u0) * du + (v - v0) * dv) / (du * du + dv * dv), 0.0, 1.0);
    double a = u - (u0 + t * du), b = v - (v0 + t * dv);
    return std::sqrt(a * a + b * b) <= width;
  };
}

Shape Either(Shape a, Shape b) {
  return [=](double u, double v) { return a(u, v) || b(u, v); };
}

void Person(Canvas& c, uint32_t colour) {
  c.Fill(Disc(0.5, 1.0, 0.42, 0.5), colour);
  c.Fill(Disc(0.5, 0.3, 0.21, 0.21), 0xfff0c8a0);
}

void Gate(Canvas& c, Art art) {
  // Wires first, then the body over them.
  double out = art == Art::kNotGate ? 0.78 : 0.74;
  c.Fill(Stroke(0.0, 0.5, 0.22, 0.5, 0.05), kBlack, false);
  if (art != Art::kNotGate) {
    c.Fill(Stroke(0.0, 0.28, 0.22, 0.28, 0.05), kBlack, false);
    c.Fill(Stroke(0.0, 0.72, 0.22, 0.72, 0.05), kBlack, false);
  }
  c.Fill(Stroke(out, 0.5, 1.0, 0.5, 0.05), kBlack, false);
  switch (art) {
    case Art::kAndGate:
      c.Fill(Either(Box(0.18, 0.1, 0.45, 0.9), Disc(0.45, 0.5, 0.3, 0.4)), 0xff2e9b57);
      break;
    case Art::kOrGate:
      // Curved sides meeting in a point, a hollow back.
      c.Fill([](double u, double v) {
               double dv = std::abs(v - 0.5) / 0.42, du = (u - 0.12) / 0.62;
               return u >= 0.12 + 0.1 * (1 - dv * dv) && dv <= 1 - du * du;
             },
             0xff2070e0);
      break;
    default:
      c.Fill([](double u, double v) { return u >= 0.18 && u <= 0.68 && std::abs(v - 0.5) <= 0.42 * (0.68 - u) / 0.5; },
             0xffe07020);
      c.Fill(Disc(0.72, 0.5, 0.06, 0.1), 0xffe07020);
      break;
  }
}

Shape FunnelShape() {
  return [](double u, double v) {
    if (v >= 0.12 && v <= 0.55) return std::abs(u - 0.5) <= 0.42 - 0.34 * (v - 0.12) / 0.43;
    return v > 0.55 && v <= 0.92 && std::abs(u - 0.5) <= 0.09;
  };
}

}  // namespace

Icon PaintIcon(Art art, int width, int height, bool off) {
  Canvas c(width, height, off);
  switch (art) {
    case Art::kInfo:
      c.Fill(Disc(0.5, 0.5, 0.46, 0.46), 0xff2a62d0);
      c.Fill(Disc(0.5, 0.27, 0.07, 0.07), kWhite, false);
      c.Fill(Box(0.43, 0.40, 0.57, 0.78), kWhite, false);
      break;
    case Art::kError:
      c.Fill(Disc(0.5, 0.5, 0.46, 0.46), 0xffd02020);
      c.Fill(Either(Stroke(0.3, 0.3, 0.7, 0.7, 0.07), Stroke(0.3, 0.7, 0.7, 0.3, 0.07)), kWhite, false);
      break;
    case Art::kPerson:
      Person(c, 0xff4070c0);
      break;
    case Art::kActivePerson:
      Person(c, 0xff20a040);
      c.Fill(Disc(0.8, 0.2, 0.18, 0.18), 0xffffd020);
      break;
    case Art::kEnvelope:
      c.Fill(Box(0.05, 0.2, 0.95, 0.8), 0xfff4f4f4);
      c.Fill(Either(Stroke(0.07, 0.22, 0.5, 0.55, 0.04), Stroke(0.5, 0.55, 0.93, 0.22, 0.04)), 0xff606060, false);
      break;
    case Art::kTerminal:
      c.Fill(Box(0.05, 0.1, 0.95, 0.9), kBlack);
      c.Fill(Box(0.07, 0.12, 0.93, 0.28), 0xff3060c0, false);
      c.Fill(Either(Stroke(0.2, 0.42, 0.36, 0.56, 0.05), Stroke(0.36, 0.56, 0.2, 0.7, 0.05)), 0xff40e040, false);
      c.Fill(Box(0.42, 0.68, 0.7, 0.74), 0xff40e040, false);
      break;
    case Art::kFolder:
      c.Fill(Box(0.06, 0.15, 0.45, 0.32), 0xffe0b030);
      c.Fill(Box(0.06, 0.28, 0.94, 0.86), 0xfff0c840);
      break;
    case Art::kMonitor:
      c.Fill(Box(0.05, 0.08, 0.95, 0.66), 0xff505050);
      c.Fill(Box(0.13, 0.16, 0.87, 0.58), 0xff80c0ff, false);
      c.Fill(Either(Box(0.2, 0.26, 0.7, 0.3), Box(0.2, 0.4, 0.6, 0.44)), kWhite, false);
      c.Fill(Box(0.42, 0.66, 0.58, 0.8), 0xff707070, false);
      c.Fill(Box(0.25, 0.8, 0.75, 0.9), 0xff707070);
      break;
    case Art::kAndGate:
    case Art::kOrGate:
    case Art::kNotGate:
      Gate(c, art);
      break;
    case Art::kFunnel:
      c.Fill(FunnelShape(), 0xff8040c0);
      break;
    case Art::kNewFunnel:
      c.Fill(FunnelShape(), 0xff8040c0);
      c.Fill(Either(Box(0.62, 0.7, 0.98, 0.8), Box(0.75, 0.56, 0.85, 0.94)), 0xff20a040, false);
      break;
    case Art::kWarning:
      c.Fill([](double u, double v) { return v >= 0.08 && v <= 0.92 && std::abs(u - 0.5) <= 0.46 * (v - 0.08) / 0.84; },
             0xfff0c020);
      c.Fill(Either(Box(0.45, 0.35, 0.55, 0.7), Box(0.45, 0.76, 0.55, 0.85)), kBlack, false);
      break;
    case Art::kChart:
      c.Fill(Box(0.04, 0.04, 0.96, 0.96), kWhite);
      c.Fill(Box(0.15, 0.5, 0.32, 0.88), 0xff2a62d0);
      c.Fill(Box(0.42, 0.25, 0.59, 0.88), 0xff20a040);
      c.Fill(Box(0.69, 0.62, 0.86, 0.88), 0xffd02020);
      break;
  }
  return c.Done();
}

const Icon* SystemIcon(MessageIcon icon) {
  static const Icon* error = new Icon(PaintIcon(Art::kError, 32, 32));
  static const Icon* info = new Icon(PaintIcon(Art::kInfo, 32, 32));
  switch (icon) {
    case MessageIcon::kError:
      return error;
    case MessageIcon::kInformation:
      return info;
    case MessageIcon::kNone:
      break;
  }
  return nullptr;
}

}  // namespace kst::ui
