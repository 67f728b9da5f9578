#include "shell/core/WindowFit.h"

#include <QtGlobal>

namespace WindowFit {

QRect fitted(const QRect &frame, const QRect &available)
{
    if (available.isEmpty() || available.contains(frame))
        return frame;
    QRect fit(frame.topLeft(), frame.size().boundedTo(available.size()));
    fit.moveLeft(qBound(available.left(), fit.left(), available.right() + 1 - fit.width()));
    fit.moveTop(qBound(available.top(), fit.top(), available.bottom() + 1 - fit.height()));
    return fit;
}

QRect centred(const QSize &size, const QMargins &margins, const QRect &available)
{
    QRect frame(QPoint(), size.grownBy(margins));
    frame.moveCenter(available.center());
    return fitted(frame, available);
}

} // namespace WindowFit
