#include "app/backdrop.h"

#include <QApplication>
#include <QKeyEvent>
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

void backdrop::show_placeholder(const QString &text)
{
    m_placeholder = text;
    setFocusPolicy(Qt::StrongFocus);
    update();
    activateWindow();
    setFocus();
}

void backdrop::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(0, 0, 0, 255));
    if (m_placeholder.isEmpty())
        return;
    QFont f = font();
    f.setPointSizeF(f.pointSizeF() * 1.4);
    painter.setFont(f);
    painter.setPen(QColor(0xc8, 0xc8, 0xc8));
    painter.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap, m_placeholder);
}

void backdrop::keyPressEvent(QKeyEvent *event)
{
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    const bool reboot = event->key() == Qt::Key_Escape ||
                        (event->key() == Qt::Key_Delete && mods == (Qt::ControlModifier | Qt::AltModifier));
    if (!m_placeholder.isEmpty() && reboot) {
        QApplication::exit(0);
        return;
    }
    QWidget::keyPressEvent(event);
}
