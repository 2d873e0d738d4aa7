#include "render/DeviceGrid.h"

#include <cmath>

CDeviceGrid::CDeviceGrid(double dRatio) : m_dRatio(dRatio > 0.0 ? dRatio : 1.0) {}

bool CDeviceGrid::IsWhole() const {
    return std::round(m_dRatio) == m_dRatio;
}

int CDeviceGrid::Device(int x) const {
    // The first device pixel whose centre lies at or after x; exact at a whole ratio.
    return static_cast<int>(std::ceil(x * m_dRatio - 0.5));
}

QRect CDeviceGrid::Device(const QRect& rect) const {
    if (rect.isEmpty()) {
        return {};
    }
    const QPoint topLeft(Device(rect.left()), Device(rect.top()));
    const QPoint end(Device(rect.left() + rect.width()), Device(rect.top() + rect.height()));
    return {topLeft, QSize(end.x() - topLeft.x(), end.y() - topLeft.y())};
}

QRect CDeviceGrid::Picture(const QRect& deviceRect) const {
    if (deviceRect.isEmpty()) {
        return {};
    }
    const auto holder = [this](int device) {
        return static_cast<int>(std::floor((device + 0.5) / m_dRatio));
    };
    return {QPoint(holder(deviceRect.left()), holder(deviceRect.top())),
            QPoint(holder(deviceRect.right()), holder(deviceRect.bottom()))};
}

QSize CDeviceGrid::DeviceSize(QSize size) const {
    return {static_cast<int>(std::lround(size.width() * m_dRatio)),
            static_cast<int>(std::lround(size.height() * m_dRatio))};
}

QSize CDeviceGrid::PictureSize(QSize deviceSize) const {
    return {static_cast<int>(std::lround(deviceSize.width() / m_dRatio)),
            static_cast<int>(std::lround(deviceSize.height() / m_dRatio))};
}

QPointF CDeviceGrid::Phase(QPoint at) const {
    return {Device(at.x()) - at.x() * m_dRatio, Device(at.y()) - at.y() * m_dRatio};
}
