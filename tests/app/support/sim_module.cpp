#include "support/sim_module.h"

#include <tmid.h>

#include <QtTest>

#include <cstdlib>
#include <cstring>

sim_module::sim_module()
    : m_dir(m_temp.path() + QStringLiteral("/module")),
      m_saved_env(qgetenv("ORVA_SIM_DIR")),
      m_had_env(qEnvironmentVariableIsSet("ORVA_SIM_DIR"))
{
    qputenv("ORVA_SIM_DIR", m_dir.toLocal8Bit());
}

sim_module::~sim_module()
{
    if (m_had_env)
        qputenv("ORVA_SIM_DIR", m_saved_env);
    else
        qunsetenv("ORVA_SIM_DIR");
}

bool sim_module::sim(const QStringList &args, QString *output) const
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ORVA_SIM_DIR"), m_dir);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(ORVA_SIM_PATH), args);
    if (!p.waitForFinished(30000))
        return false;
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    if (output)
        *output = out;
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        qWarning().noquote() << "orva-sim" << args.join(QLatin1Char(' ')) << "failed:" << out
                             << QString::fromUtf8(p.readAllStandardError());
        return false;
    }
    return true;
}

bool sim_module::init(int dev_class, int state) const
{
    return sim({QStringLiteral("init"), QStringLiteral("--class"), QString::number(dev_class),
                QStringLiteral("--state"), QString::number(state)});
}

bool sim_module::init_formatted(int dev_class) const
{
    return init(dev_class) && sim({QStringLiteral("format")});
}

// ---- direct access -------------------------------------------------------------

module_session::module_session()
{
    m_code = orva_init(0);
    if (m_code == ORVA_OK)
        m_code = orva_open_device(0, &m_handle, 0);
}

module_session::~module_session()
{
    if (m_handle)
        orva_close_device(m_handle);
    orva_exit(0);
}

orva_device_state module_session::state() const
{
    orva_device_state s{};
    orva_get_device_state(m_handle, &s);
    return s;
}

QList<orva_db_record> module_session::records() const
{
    return read_records(m_handle);
}

QList<log_entry> module_session::log() const
{
    return read_log(m_handle);
}

QList<orva_db_record> read_records(orva_handle_t handle)
{
    orva_db_record *list = nullptr;
    uint16_t count = 0;
    QList<orva_db_record> result;
    if (orva_db_get_record_list(handle, &list, &count) == ORVA_OK) {
        for (uint16_t i = 0; i < count; ++i)
            result.append(list[i]);
    }
    std::free(list);
    return result;
}

QList<log_entry> read_log(orva_handle_t handle)
{
    QList<log_entry> result;
    orva_log_record *r = nullptr;
    int code = orva_log_get_first_record(handle, &r);
    while (code == ORVA_OK) {
        log_entry e;
        e.type = r->type;
        e.result = r->result;
        e.date = r->date;
        e.time = r->time;
        e.param = QByteArray(reinterpret_cast<const char *>(r->param), static_cast<int>(r->param_size));
        e.text = QByteArray(r->text);
        result.append(e);
        code = orva_log_get_next_record(handle, &r);
    }
    return result;
}

// ---- holder --------------------------------------------------------------------

bool module_holder::start()
{
    m_process.start(QStringLiteral(ORVA_HOLD_MODULE_PATH), QStringList());
    if (!m_process.waitForStarted(10000))
        return false;
    if (!m_process.waitForReadyRead(10000))
        return false;
    return m_process.readLine().trimmed() == "open";
}

module_holder::~module_holder()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(10000))
            m_process.kill();
        m_process.waitForFinished(10000);
    }
}

bool presented_identifier(orva_tmid *tmid, uint32_t *state)
{
    tmid_descriptor *list = nullptr;
    int count = 0;
    if (tmid_get_id_list(&list, &count) != TMID_OK || count < 1) {
        std::free(list);
        return false;
    }
    std::memcpy(tmid, list[0].id, sizeof *tmid);
    if (state)
        *state = list[0].state;
    std::free(list);
    return true;
}

QByteArray record_bytes(const orva_db_record &record)
{
    return QByteArray(reinterpret_cast<const char *>(&record), sizeof record);
}
