// SPDX-License-Identifier: Apache-2.0
#include "SimProcess.h"

#include <QDeadlineTimer>
#include <QRegularExpression>

#include <algorithm>
#include <csignal>
#include <sys/types.h>

namespace {

bool Names(const QStringList& args, const QString& option) {
    for (const QString& a : args)
        if (a == option || a.startsWith(option + QLatin1Char('=')))
            return true;
    return false;
}

} // namespace

QString SimProcess::Path() {
#ifdef KARO_SIM_PATH
    return QString::fromLocal8Bit(KARO_SIM_PATH);
#else
    return QString();
#endif
}

SimProcess::SimProcess(const QStringList& extraArgs, bool defaultTransports) {
    if (defaultTransports)
        FArgs << QStringLiteral("--tcp") << QStringLiteral("0") << QStringLiteral("--udp")
              << QStringLiteral("0");
    FArgs << extraArgs;
    FWantTcp = Names(FArgs, QStringLiteral("--tcp"));
    FWantUdp = Names(FArgs, QStringLiteral("--udp"));
    FWantSerial =
        Names(FArgs, QStringLiteral("--serial-pty")) || Names(FArgs, QStringLiteral("--serial"));
    FWantCan = Names(FArgs, QStringLiteral("--can"));
    FProcess.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

SimProcess::~SimProcess() {
    if (IsRunning() && !Terminate(3000))
        Kill();
}

void SimProcess::ReadOutput() {
    FOutput += FProcess.readAllStandardOutput();
    static const QRegularExpression line(QStringLiteral("^listening (tcp|udp) \\S+:(\\d+)\\r?\\n"),
                                         QRegularExpression::MultilineOption);
    auto it = line.globalMatch(QString::fromLatin1(FOutput));
    while (it.hasNext()) {
        const auto m = it.next();
        const auto port = static_cast<quint16>(m.captured(2).toUInt());
        (m.captured(1) == QLatin1String("tcp") ? FTcpPort : FUdpPort) = port;
    }
    static const QRegularExpression serial(QStringLiteral("^listening serial (\\S+)\\r?\\n"),
                                           QRegularExpression::MultilineOption);
    const auto m = serial.match(QString::fromLocal8Bit(FOutput));
    if (m.hasMatch())
        FSerialPath = m.captured(1);
    static const QRegularExpression canLine(QStringLiteral("^listening can (\\S+) id \\d+\\r?\\n"),
                                            QRegularExpression::MultilineOption);
    const auto c = canLine.match(QString::fromLatin1(FOutput));
    if (c.hasMatch())
        FCanBus = c.captured(1);
}

bool SimProcess::Start(int timeoutMs) {
    if (Path().isEmpty()) {
        FError = QStringLiteral("KARO_SIM_PATH is not defined");
        return false;
    }
    FProcess.start(Path(), FArgs);
    if (!FProcess.waitForStarted(timeoutMs)) {
        FError = QStringLiteral("cannot start %1: %2").arg(Path(), FProcess.errorString());
        return false;
    }
    const QDeadlineTimer deadline(timeoutMs);
    while ((FWantTcp && FTcpPort == 0) || (FWantUdp && FUdpPort == 0) ||
           (FWantSerial && FSerialPath.isEmpty()) || (FWantCan && FCanBus.isEmpty())) {
        if (FProcess.state() == QProcess::NotRunning) {
            FError = QStringLiteral("karo-sim ended early (exit code %1)").arg(FProcess.exitCode());
            return false;
        }
        if (deadline.hasExpired()) {
            FError = QStringLiteral("karo-sim did not report its ports in time");
            return false;
        }
        // Blocks on the pipe until output arrives, the process ends, or time runs out.
        FProcess.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())));
        ReadOutput();
    }
    return true;
}

void SimProcess::Kill() {
    if (!IsRunning())
        return;
    FProcess.kill();
    FProcess.waitForFinished(10000);
}

bool SimProcess::Terminate(int timeoutMs) {
    if (!IsRunning())
        return false;
    FProcess.terminate();
    if (!FProcess.waitForFinished(timeoutMs))
        return false;
    ReadOutput();
    return FProcess.exitStatus() == QProcess::NormalExit && FProcess.exitCode() == 0;
}

void SimProcess::LosePart() {
    if (IsRunning())
        ::kill(static_cast<pid_t>(FProcess.processId()), SIGUSR1);
}
