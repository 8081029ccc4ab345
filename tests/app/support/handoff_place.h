// The working directory of the program for a hand-off: helpers that note
// their run in calls.log, and the marker file, in a temporary directory.
#ifndef ORVA_TESTS_APP_HANDOFF_PLACE_H
#define ORVA_TESTS_APP_HANDOFF_PLACE_H

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class handoff_place {
public:
    handoff_place();
    ~handoff_place();
    handoff_place(const handoff_place &) = delete;
    handoff_place &operator=(const handoff_place &) = delete;

    // The helpers that ran, waiting up to `wait_ms` for the first one (a
    // detached helper runs on its own).
    QStringList calls(int wait_ms = 0) const;
    bool marker() const;

private:
    QTemporaryDir m_dir;
    QString m_old_dir;
    QString m_old_marker;
};

#endif
