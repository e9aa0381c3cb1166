// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

// The gripper simulator karo-sim as a separate process, for end-to-end tests.
//
//   SimProcess sim({QStringLiteral("--referenced")});
//   QVERIFY2(sim.Start(), qPrintable(sim.ErrorString()));
//   socket.connectToHost(QHostAddress::LocalHost, sim.TcpPort());
//
// By default the simulator serves TCP and UDP on free loopback ports ("--tcp 0 --udp 0" come
// before the extra arguments). Start() returns once it has printed the "listening ..." line of
// every transport it was asked for, so the ports are known and connections will be accepted.
// Its stderr (the --verbose trace, error messages) is forwarded to the test's stderr.
// The destructor stops it (SIGTERM, SIGKILL if it does not end within 3 s).
class SimProcess {
public:
    // `extraArgs`: further switches (see karo-sim --help). With `defaultTransports` false
    // nothing is added, and the transports are those named in `extraArgs`.
    explicit SimProcess(const QStringList& extraArgs = {}, bool defaultTransports = true);
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // Starts the simulator and waits (at most `timeoutMs`) for its listening lines. False when
    // it could not be started, ended early or did not report in time; ErrorString() says why.
    bool Start(int timeoutMs = 10000);

    // The ports it actually listens on; 0 for a transport it does not serve.
    quint16 TcpPort() const { return FTcpPort; }
    quint16 UdpPort() const { return FUdpPort; }
    // The serial line it serves (--serial-pty, --serial); empty when none.
    QString SerialPath() const { return FSerialPath; }
    // The CAN bus it is a node on ("--can BUS"); empty until it reported it.
    QString CanBus() const { return FCanBus; }

    bool IsRunning() const { return FProcess.state() != QProcess::NotRunning; }

    // Ends it abruptly (SIGKILL), as a gripper that loses power; returns once it is gone.
    void Kill();
    // Asks it to stop (SIGTERM) and waits; true when it ended by itself with exit code 0.
    bool Terminate(int timeoutMs = 5000);
    // Makes a part the simulator holds slip out of the fingers (SIGUSR1).
    void LosePart();

    QString ErrorString() const { return FError; }
    // Everything it printed on stdout so far.
    QByteArray Output() const { return FOutput; }
    QProcess& Process() { return FProcess; }

    // The built simulator's path.
    static QString Path();

private:
    void ReadOutput();

    QProcess FProcess;
    QStringList FArgs;
    bool FWantTcp = false;
    bool FWantUdp = false;
    bool FWantSerial = false;
    QString FSerialPath;
    bool FWantCan = false;
    QString FCanBus;
    quint16 FTcpPort = 0;
    quint16 FUdpPort = 0;
    QByteArray FOutput;
    QString FError;
};
