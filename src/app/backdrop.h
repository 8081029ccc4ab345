// The black full-screen background behind every top-level form.
#ifndef ORVA_APP_BACKDROP_H
#define ORVA_APP_BACKDROP_H

#include <QString>
#include <QWidget>

class backdrop : public QWidget {
    Q_OBJECT

public:
    explicit backdrop(QWidget *parent = nullptr);

    // A text in the middle of the screen; while it is shown, Escape and
    // Ctrl+Alt+Delete end the program with status 0.
    void show_placeholder(const QString &text);
    const QString &placeholder() const { return m_placeholder; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    QString m_placeholder;
};

#endif
