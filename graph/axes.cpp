#include "graph/axes.h"

namespace trelvane {

double LossY(double loss_percent) { return kGraphHeight - 40.0 * loss_percent; }

double ResponseY(double v) {
  double f = 0.2666666667;
  double c = 3466.6666666667;
  if (v >= 0 && v <= 50) {
    f = 40;
    c = 0;
  } else if (v >= 51 && v <= 100) {
    f = 16;
    c = 1200;
  } else if (v >= 101 && v <= 200) {
    f = 4;
    c = 2400;
  } else if (v >= 201 && v <= 500) {
    f = 1.3333333333;
    c = 2933.3333333333;
  }
  return kGraphHeight - f * v - c;
}

}  // namespace trelvane
