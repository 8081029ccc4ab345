// The flags the module's pre-boot code passes in the kernel command line,
// after the word "orva": "int13_fails" (the int 13h extension call failed)
// and "hd0_removable" (the boot device is removable).
#ifndef ORVA_CHECK_LINUX_KERNEL_CMD_LINE_H
#define ORVA_CHECK_LINUX_KERNEL_CMD_LINE_H

#include <QString>
#include <QStringList>

class LinuxKernelCmdLine {
public:
    // Reads /proc/cmdline (through the system root) whole; false when it
    // cannot be opened, the held line is then kept.
    bool load();
    // The words after the last "orva" (the whole line without one), split
    // at runs of white space, empty words kept.
    QStringList getOrvaParamList() const;
    bool isInt13Fails() const;
    bool isBootDeviceRemovable() const;

    const QString &cmdline() const { return m_cmdline; }
    void set_cmdline(const QString &line) { m_cmdline = line; }

private:
    bool has_flag(const QString &flag) const;

    QString m_cmdline;
};

#endif
