#include "SystemPowerOff.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <QProcess>
#include <QStandardPaths>

namespace {

// logind's answer: empty when it accepted the request.
QString AskLogind()
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) return "无法连接系统总线";
    QDBusInterface manager("org.freedesktop.login1", "/org/freedesktop/login1",
                           "org.freedesktop.login1.Manager", bus);
    if (!manager.isValid()) return "找不到 systemd-logind：" + manager.lastError().message();
    manager.setTimeout(25000);
    // Not interactive: nobody may be there to answer a password prompt.
    QDBusReply<void> reply = manager.call("PowerOff", false);
    if (reply.isValid()) return {};
    return "systemd-logind 拒绝关机：" + reply.error().message();
}

QString AskSystemctl()
{
    const QString systemctl = QStandardPaths::findExecutable("systemctl");
    if (systemctl.isEmpty()) return "找不到 systemctl";
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(systemctl, {"poweroff"});
    if (!process.waitForFinished(25000)) {
        process.kill();
        process.waitForFinished(1000);
        return "systemctl poweroff 没有回应";
    }
    if (process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0) return {};
    const QString output = QString::fromLocal8Bit(process.readAll()).trimmed();
    return "systemctl poweroff 失败" + (output.isEmpty() ? QString() : "：" + output);
}

} // namespace

bool SystemPowerOff(std::string &error)
{
    const QString logind = AskLogind();
    if (logind.isEmpty()) return true;
    const QString systemctl = AskSystemctl();
    if (systemctl.isEmpty()) return true;
    error = ("无法自动关机。\n" + logind + "\n" + systemctl).toStdString();
    return false;
}
