// The black full-screen background behind every top-level form.
#ifndef ORVA_APP_BACKDROP_H
#define ORVA_APP_BACKDROP_H

#include <QWidget>

class backdrop : public QWidget {
    Q_OBJECT

public:
    explicit backdrop(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};

#endif
