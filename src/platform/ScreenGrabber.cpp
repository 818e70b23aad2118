#include "platform/ScreenGrabber.h"

#include <algorithm>

namespace tarvina::platform {

QList<ScreenSquare> SquarePlan(int width, int height, int side) {
    QList<ScreenSquare> plan;
    if (width <= 0 || height <= 0 || side <= 0)
        return plan;
    const int columns = (width + side - 1) / side;
    const int rows = (height + side - 1) / side;
    plan.reserve(static_cast<qsizetype>(columns) * rows);
    for (int c = 0; c < columns; ++c) {
        const int x = c * side;
        for (int r = 0; r < rows; ++r) {
            const int y = r * side;
            plan.append({x, y, std::min(side, width - x), std::min(side, height - y)});
        }
    }
    return plan;
}

} // namespace tarvina::platform
