#include "app/backdrop.h"

#include <QPainter>

backdrop::backdrop(QWidget *parent)
    : QWidget(parent, Qt::FramelessWindowHint | Qt::WindowStaysOnBottomHint)
{
    setObjectName(QStringLiteral("backdrop"));
    // paintEvent covers every pixel: no background fill (palette or style
    // sheet) before it.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void backdrop::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(0, 0, 0, 255));
}
