// Name entry for a new user or group: the name is asked for, checked
// (1-12 Latin letters and digits), made upper case and refused when a user or
// group already has it.
#ifndef ORVA_ACCOUNTS_NEW_USER_NAME_H
#define ORVA_ACCOUNTS_NEW_USER_NAME_H

#include <QObject>
#include <QString>

class new_user_name : public QObject {
    Q_OBJECT

public:
    explicit new_user_name(QObject *parent = nullptr);

    // The warning for a typed name; empty when it is acceptable.
    static QString name_error(const QString &name);

public slots:
    void show_form();
    void show_form_group();

signals:
    void new_name(QString name);
    void new_group_name(QString name);

private:
    // The accepted upper-case name; empty when cancelled or refused.
    QString ask(const QString &label);
};

#endif
