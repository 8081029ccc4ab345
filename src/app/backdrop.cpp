#include "app/backdrop.h"

#include <QPainter>

backdrop::backdrop(QWidget *parent)
    : QWidget(parent, Qt::FramelessWindowHint | Qt::WindowStaysOnBottomHint)
{
    setObjectName(QStringLiteral("backdrop"));
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, QColor(0, 0, 0, 255));
    setPalette(p);
}

void backdrop::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(0, 0, 0, 255));
}
