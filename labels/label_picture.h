#pragma once
// The label as Qt draws it, for front ends with Qt of their own (the station window's preview).
#include "label.h"

#include <QImage>
#include <QPainter>
#include <QRectF>

namespace tk7v::labels {

// Draws the label into `page` (device pixels of the painter's device, `dotsPerMm` of them to the
// millimetre): the number large at the top left, the lines below it, the 2D code at the right.
// Every text fits whole: the lines shrink first, the number last.
void PaintLabel(QPainter& painter, const QRectF& page, double dotsPerMm, const LabelContent& content);

// The label as a picture, `dotsPerMm` dots to the millimetre, on white.
QImage LabelImage(const LabelContent& content, const LabelSize& size, double dotsPerMm);

} // namespace tk7v::labels
