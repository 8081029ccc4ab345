#include "check/linux_kernel_cmd_line.h"

#include <ic/sys/sysroot.h>

#include <QFile>
#include <QRegularExpression>

#include <fcntl.h>
#include <unistd.h>

bool LinuxKernelCmdLine::load()
{
    const int fd = ic_sys_open("/proc/cmdline", O_RDONLY, 0);
    if (fd < 0)
        return false;
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly | QIODevice::Text, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    m_cmdline = QString::fromUtf8(file.readAll());
    return true;
}

QStringList LinuxKernelCmdLine::getOrvaParamList() const
{
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    const QString after = m_cmdline.split(QStringLiteral("orva"), Qt::KeepEmptyParts).constLast();
    return after.split(blanks, Qt::KeepEmptyParts);
}

bool LinuxKernelCmdLine::has_flag(const QString &flag) const
{
    for (const QString &word : getOrvaParamList()) {
        if (word.contains(flag))
            return true;
    }
    return false;
}

bool LinuxKernelCmdLine::isInt13Fails() const
{
    return has_flag(QStringLiteral("int13_fails"));
}

bool LinuxKernelCmdLine::isBootDeviceRemovable() const
{
    return has_flag(QStringLiteral("hd0_removable"));
}
