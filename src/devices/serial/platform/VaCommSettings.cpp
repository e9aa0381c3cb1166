// SPDX-License-Identifier: Apache-2.0
#include "devices/serial/platform/VaComm.h"
#include "devices/serial/platform/VaCommThreads.h"

#include <algorithm>
#include <cstring>

using namespace VaCommDetail;

std::uint32_t VaEventFlag(TVaCommEvent event) {
    switch (event) {
    case ceBreak:
        return EV_BREAK;
    case ceCts:
        return EV_CTS;
    case ceDsr:
        return EV_DSR;
    case ceError:
        return EV_ERR;
    case ceRing:
        return EV_RING;
    case ceRlsd:
        return EV_RLSD;
    case ceRxChar:
        return EV_RXCHAR;
    case ceTxEmpty:
        return EV_TXEMPTY;
    case ceRxFlag:
        return EV_RXFLAG;
    case cePErr:
        return EV_PERR;
    case ceRx80Full:
        return EV_RX80FULL;
    case ceEvent1:
        return EV_EVENT1;
    case ceEvent2:
        return EV_EVENT2;
    }
    return 0;
}

std::uint32_t VaBaudrateValue(TVaBaudrate rate) {
    static constexpr std::uint32_t values[] = {0,     110,    300,    600,   1200,  2400,
                                               4800,  9600,   14400,  19200, 38400, 56000,
                                               57600, 115200, 128000, 256000};
    const auto i = static_cast<std::size_t>(rate);
    return i < std::size(values) ? values[i] : 0;
}

// ---- settings objects

void TVaPersistent::EndUpdate() {
    if (FUpdateCount > 0)
        --FUpdateCount;
    if (FUpdateCount == 0 && OnChange)
        OnChange();
}

void TVaPersistent::Changing() const {
    if (OnChanging)
        OnChanging();
}

void TVaPersistent::Changed() {
    if (FUpdateCount == 0 && OnChange)
        OnChange();
}

void TVaBuffers::Set(int& field, int v) {
    if (field == v)
        return;
    Changing();
    field = v;
    Changed();
}

void TVaBuffers::Assign(const TVaBuffers& other) {
    BeginUpdate();
    SetReadSize(other.FReadSize);
    SetWriteSize(other.FWriteSize);
    SetReadTimeout(other.FReadTimeout);
    SetWriteTimeout(other.FWriteTimeout);
    SetXonLimit(other.FXonLimit);
    SetXoffLimit(other.FXoffLimit);
    EndUpdate();
}

void TVaEventChars::Set(int index, std::uint8_t v) {
    if (FChars[index] == v)
        return;
    FChars[index] = v;
    Changed();
}

void TVaEventChars::Assign(const TVaEventChars& other) {
    BeginUpdate();
    for (int i = 0; i < 5; ++i)
        Set(i, other.FChars[i]);
    EndUpdate();
}

void TVaFlowControl::Assign(const TVaFlowControl& other) {
    BeginUpdate();
    SetOutCtsFlow(other.FOutCtsFlow);
    SetOutDsrFlow(other.FOutDsrFlow);
    SetControlDtr(other.FControlDtr);
    SetControlRts(other.FControlRts);
    SetXonXoffOut(other.FXonXoffOut);
    SetXonXoffIn(other.FXonXoffIn);
    SetDsrSensitivity(other.FDsrSensitivity);
    SetTxContinueOnXoff(other.FTxContinueOnXoff);
    EndUpdate();
}

void TVaCommBuffer::Append(const std::uint8_t* bytes, int count) {
    std::memcpy(FData.data() + FCount, bytes, static_cast<std::size_t>(count));
    FCount += count;
}

void TVaCommBuffer::RemoveFront(int count) {
    count = std::min(count, FCount);
    std::memmove(FData.data(), FData.data() + count, static_cast<std::size_t>(FCount - count));
    FCount -= count;
}

void TVaComm::SetBaudrate(TVaBaudrate v) {
    if (v == FBaudrate)
        return;
    FBaudrate = v;
    if (v != brUser)
        FUserBaudrate = 0;
    ApplyLine();
}

void TVaComm::SetUserBaudrate(int v) {
    if (v == FUserBaudrate)
        return;
    FUserBaudrate = v;
    FBaudrate = brUser;
    ApplyLine();
}

void TVaComm::SetParity(TVaParity v) {
    if (v == FParity)
        return;
    FParity = v;
    ApplyLine();
}

void TVaComm::SetDatabits(TVaDatabits v) {
    if (v == FDatabits)
        return;
    FDatabits = v;
    ApplyLine();
}

void TVaComm::SetStopbits(TVaStopbits v) {
    if (v == FStopbits)
        return;
    FStopbits = v;
    ApplyLine();
}

void TVaComm::SetOptions(const TVaCommOptions& v) {
    FOptions = v;
    ApplyLine();
}

void TVaComm::SetPortNum(int v) {
    RefuseWhileOpen();
    FPortNum = v;
}

void TVaComm::SetDeviceName(const QString& v) {
    RefuseWhileOpen();
    FDeviceName = v;
}

void TVaComm::SetMonitorEvents(const TVaCommEvents& v) {
    RefuseWhileOpen();
    FMonitorEvents = v;
}

void TVaComm::SetEventPriority(TThreadPriority v) {
    if (v == FEventPriority)
        return;
    FEventPriority = v;
    if (FEventThread)
        FEventThread->setPriority(QtPriority(v));
}

void TVaComm::SetWritePriority(TThreadPriority v) {
    if (v == FWritePriority)
        return;
    FWritePriority = v;
    if (FWriteThread)
        FWriteThread->setPriority(QtPriority(v));
}

void TVaComm::SetDirectWrite(bool v) {
    RefuseWhileOpen();
    FDirectWrite = v;
}

void TVaComm::SetUpdateDCB(bool v) {
    RefuseWhileOpen();
    FUpdateDCB = v;
}

QString TVaComm::PortName() const {
    QString name = FDeviceName;
    const int at = name.indexOf(QLatin1String("%d"));
    if (at >= 0)
        name.replace(at, 2, QString::number(FPortNum));
    if (name.startsWith(QLatin1Char('/')) || !ResolvePortName)
        return name;
    const QString path = ResolvePortName(name);
    return path.isEmpty() ? name : path;
}

std::uint32_t TVaComm::EventMask() const {
    std::uint32_t mask = 0;
    for (TVaCommEvent e : FMonitorEvents)
        mask |= VaEventFlag(e);
    // The write thread reports the end of its own writing.
    if (!FDirectWrite)
        mask &= ~EV_TXEMPTY;
    return mask;
}
