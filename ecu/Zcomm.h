// TZComm: one serial port, opened with the line settings held in its properties.
// All port work runs on the calling (window) thread; a TCommThread watcher waits for
// received bytes, moves them into the component's receive queue and posts one
// notification per batch to the component's receiver object on the window thread.
#pragma once

#include <QObject>
#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "ecu/SerialPlatform.h"

class QEvent;

enum TParity { no_parity, odd_parity, even_parity, mark_parity, space_parity };
enum TDataBits { databits4, databits5, databits6, databits7, databits8 };
enum TStopBits { stop1, stop1x5, stop2 };

class TZComm;
class TCommThread;

// Receives the watcher's posted notifications on the thread that created the component.
class TZCommReceiver : public QObject {
public:
    explicit TZCommReceiver(TZComm* owner) : owner_(owner) {}
    bool event(QEvent* e) override;   // WindowMessageProc

private:
    TZComm* owner_;
};

class TZComm : public QObject {
    Q_OBJECT
public:
    explicit TZComm(QObject* owner = nullptr);
    ~TZComm() override;

    // Property accessors. Getters carry the property's name, setters Set + name.
    QString Text();                       // reads from the port (GetText)
    void SetText(const QString& text);    // sends the text

    QString Port() const { return port_; }
    void SetPort(const QString& v) { port_ = v; }
    int32_t BaudRate() const { return baudRate_; }
    void SetBaudRate(int32_t v) { baudRate_ = v; }
    TParity Parity() const { return parity_; }
    void SetParity(TParity v) { parity_ = v; }
    TDataBits DataBits() const { return dataBits_; }
    void SetDataBits(TDataBits v) { dataBits_ = v; }
    TStopBits StopBits() const { return stopBits_; }
    void SetStopBits(TStopBits v) { stopBits_ = v; }
    int32_t MaxReadLength() const { return maxReadLength_; }
    void SetMaxReadLength(int32_t v) { maxReadLength_ = v; }
    int32_t InputQueueSize() const { return inputQueueSize_; }
    void SetInputQueueSize(int32_t v) { inputQueueSize_ = v; }
    int32_t OutputQueueSize() const { return outputQueueSize_; }
    void SetOutputQueueSize(int32_t v) { outputQueueSize_ = v; }
    int32_t XOnLimit() const { return xOnLimit_; }
    void SetXOnLimit(int32_t v) { xOnLimit_ = v; }
    int32_t XOffLimit() const { return xOffLimit_; }
    void SetXOffLimit(int32_t v) { xOffLimit_ = v; }
    bool CTSFlowCtl() const { return ctsFlowCtl_; }
    void SetCTSFlowCtl(bool v) { ctsFlowCtl_ = v; }
    bool DSRFlowCtl() const { return dsrFlowCtl_; }
    void SetDSRFlowCtl(bool v) { dsrFlowCtl_ = v; }
    bool EnableParity() const { return enableParity_; }
    void SetEnableParity(bool v) { enableParity_ = v; }
    bool DSRSensitive() const { return dsrSensitive_; }
    void SetDSRSensitive(bool v) { dsrSensitive_ = v; }
    bool TXResume() const { return txResume_; }
    void SetTXResume(bool v) { txResume_ = v; }
    bool XOuputFlowCtl() const { return xOutputFlowCtl_; }
    void SetXOuputFlowCtl(bool v) { xOutputFlowCtl_ = v; }
    bool XInputFlowCtl() const { return xInputFlowCtl_; }
    void SetXInputFlowCtl(bool v) { xInputFlowCtl_ = v; }
    bool ErrorReplace() const { return errorReplace_; }
    void SetErrorReplace(bool v) { errorReplace_ = v; }
    bool DiscardNULL() const { return discardNull_; }
    void SetDiscardNULL(bool v) { discardNull_ = v; }
    bool AbortOnError() const { return abortOnError_; }
    void SetAbortOnError(bool v) { abortOnError_ = v; }
    char ErrorChar() const { return errorChar_; }
    void SetErrorChar(char v) { errorChar_ = v; }
    char XOnChar() const { return xOnChar_; }
    void SetXOnChar(char v) { xOnChar_ = v; }
    char XOffChar() const { return xOffChar_; }
    void SetXOffChar(char v) { xOffChar_ = v; }
    int32_t TimeoutReadInterval() const { return timeouts_.readInterval; }
    void SetTimeoutReadInterval(int32_t v) { timeouts_.readInterval = v; }
    int32_t TimeoutReadMultiplier() const { return timeouts_.readMultiplier; }
    void SetTimeoutReadMultiplier(int32_t v) { timeouts_.readMultiplier = v; }
    int32_t TimeoutReadConstant() const { return timeouts_.readConstant; }
    void SetTimeoutReadConstant(int32_t v) { timeouts_.readConstant = v; }
    int32_t TimeoutWriteMultiplier() const { return timeouts_.writeMultiplier; }
    void SetTimeoutWriteMultiplier(int32_t v) { timeouts_.writeMultiplier = v; }
    int32_t TimeoutWriteConstant() const { return timeouts_.writeConstant; }
    void SetTimeoutWriteConstant(int32_t v) { timeouts_.writeConstant = v; }
    int32_t State() const { return state_; }
    QString Version() const { return QStringLiteral("1.0.4"); }
    void SetVersion(const QString& v) { versionAside_ = v; }   // kept aside, never shown
    int32_t Connected() const { return connected_; }
    // Received bytes waiting to be read (0 while closed): what a read can take at once.
    int32_t InQueue() const;
    // Written bytes the driver has not yet sent on the line (0 where it cannot tell, or closed).
    int32_t OutQueue() const;
    // Why the last OpenConnection failed ("" after a successful one).
    QString OpenError() const { return openError_; }
    // The same in detail: what the device is, who holds it, which group may use it.
    const serial::OpenFailure& OpenFailure() const { return portHandle_.failure(); }
    // Whether the driver granted low latency at the last successful open.
    bool LowLatency() const { return portHandle_.isOpen() && portHandle_.lowLatency(); }
    // The device the last successful OpenConnection opened, as an absolute path: what to look
    // for again when that device goes away (Port "COM1" may mean a file here or /dev/ttyS0).
    QString OpenedPath() const { return openedPath_; }

    // Events: called only when assigned.
    std::function<void(TZComm* Sender, int error, const QString& errorstr)> OnErrorOccurred;
    std::function<void(TZComm* Sender)> OnDataAvailable;
    // Raised on the window thread, once per connection, when the device has gone away (unplugged,
    // the far end of a pseudo-terminal closed), after the bytes that came before it were offered
    // through OnDataAvailable. The connection stays open until its owner closes it.
    std::function<void(TZComm* Sender)> OnHangUp;
    // Raised after every OpenConnection, whatever its outcome (Connected, OpenError tell it), so
    // that the owner can say why a port cannot be had whoever asked for it to be opened.
    std::function<void(TZComm* Sender)> OnOpenAttempt;

    // Operations: integer results, nonzero meaning success.
    int OpenConnection();
    int SetConnection();
    int CloseConnection();
    int PurgeCommPort(uint32_t flags);
    int EscapeComm(uint32_t function);
    int GetTimeouts();
    int SetTimeouts();
    int SetFlowCtl(int on);
    int ReadComm(uint8_t* buffer, int32_t length);
    // ReadComm that stops at the end of the oldest batch the watcher read, and tells when that
    // batch came off the line.
    int ReadCommStamped(uint8_t* buffer, int32_t length, std::chrono::steady_clock::time_point& arrived);
    // Moves what the device holds into the receive queue now, without waiting for the watcher
    // (which runs below normal priority and may be late on a busy machine): before a reply is
    // called overdue, whatever has arrived is looked at.
    void TakeArrived();
    // Lets output held by a flow-control stop (XOFF) go on, as if XON had come. Nonzero on success.
    int ResumeOutput();
    int WriteComm(const uint8_t* data, int32_t length);
    int WriteCommByte(uint8_t byte);
    // Writes the bytes as one piece, waiting for room at most timeoutMs in all, so that a line
    // held by flow control costs the caller a bounded time. Result: the number of bytes written
    // (fewer than length when the line took no more in time), or -1 when the device has gone.
    int WriteCommFrame(const uint8_t* data, int32_t length, int timeoutMs);
    QString GetText() { return Text(); }

    void MessageCOMM();   // raises OnDataAvailable if the port is open

    // The event type the watcher posts to the receiver (the analogue of message 0x8000).
    static int notificationEventType();

private:
    friend class TCommThread;
    int Open();

    QString port_;
    int32_t baudRate_ = 9600;
    TParity parity_ = no_parity;
    TDataBits dataBits_ = databits8;
    TStopBits stopBits_ = stop1;
    int32_t maxReadLength_ = 8192;
    int32_t inputQueueSize_ = 8192;
    int32_t outputQueueSize_ = 8192;
    int32_t xOnLimit_ = 150;
    int32_t xOffLimit_ = 150;
    bool ctsFlowCtl_ = false;
    bool dsrFlowCtl_ = false;
    bool enableParity_ = true;
    bool dsrSensitive_ = false;
    bool txResume_ = false;
    bool xOutputFlowCtl_ = true;
    bool xInputFlowCtl_ = true;
    bool errorReplace_ = false;
    bool discardNull_ = false;
    bool abortOnError_ = true;
    char errorChar_ = '~';
    char xOnChar_ = 0x11;
    char xOffChar_ = 0x13;
    serial::Timeouts timeouts_{65535, 1, 5000, 1, 5000};
    int32_t state_ = 2;
    QString versionAside_;
    int32_t connected_ = 0;
    QString lastText_;
    QString openError_;
    QString openedPath_;
    bool hangUpRaised_ = false;

    serial::Port portHandle_;                       // the open device (invalid while closed)
    std::shared_ptr<serial::ReceiveQueue> queue_;   // filled by the watcher, emptied by ReadComm
    std::unique_ptr<TCommThread> watcher_;
    TZCommReceiver* receiver_ = nullptr;
};
