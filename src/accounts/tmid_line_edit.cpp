#include "accounts/tmid_line_edit.h"

#include "module/db_record.h"

#include <QAction>
#include <QIcon>

#include <cstring>

tmid_line_edit::tmid_line_edit(QWidget *parent)
    : QLineEdit(parent),
      m_reset(new QAction(QIcon(QStringLiteral(":/new/user-delete.png")), QStringLiteral("Сбросить"), this))
{
    setReadOnly(true);
    m_reset->setObjectName(QStringLiteral("reset_tmid_action"));
    m_reset->setToolTip(QStringLiteral("Сбросить персональные параметры"));
    addAction(m_reset, QLineEdit::TrailingPosition);
    connect(m_reset, &QAction::triggered, this, &tmid_line_edit::reset_tmid);
}

orva_tmid tmid_line_edit::no_tmid()
{
    orva_tmid tmid;
    static const uint8_t kBytes[ORVA_TMID_SIZE] = {0xFF, 'U', 'S', 'E', 'R', ' ', ' ', 0xFF};
    std::memcpy(&tmid, kBytes, sizeof tmid);
    return tmid;
}

bool tmid_line_edit::is_no_tmid(const orva_tmid &tmid)
{
    const orva_tmid none = no_tmid();
    return std::memcmp(&tmid, &none, sizeof tmid) == 0;
}

void tmid_line_edit::set_tmid(const orva_tmid &tmid)
{
    // A record that never had one holds zero bytes.
    const orva_tmid zero{};
    const bool none = is_no_tmid(tmid) || std::memcmp(&tmid, &zero, sizeof tmid) == 0;
    setText(none ? QStringLiteral("не установлен") : db_record::tmid_text(tmid));
}
