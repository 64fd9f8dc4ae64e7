// What the OS backends of ISerialPort have in common: the gate that keeps
// Close from freeing a handle while the other thread is still in a call on
// it, the closing flag, the event mask and write time-out both keep, and the
// record of the last failure. Only the backends include it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "platform/SerialPort.h"

class CSerialPortBase : public ISerialPort {
 public:
  CSerialPortBase(const CSerialPortBase&) = delete;
  CSerialPortBase& operator=(const CSerialPortBase&) = delete;

  /// True between a successful Open and Close (false once Close began).
  bool IsOpen() const override;
  /// The last failure; read it on the thread that saw the call fail.
  const std::string& LastError() const override { return m_strError; }
  /// The cause of the last failure, as the backend sorted it.
  PortFailure LastFailure() const override;

 protected:
  CSerialPortBase() = default;
  ~CSerialPortBase() override = default;

  /// One call on the open port. It passes the gate while the port is open
  /// and not closing, and leaves it on every path out of the call; until
  /// then Close waits, so the backend's handles stay as they are for the
  /// whole call (Open refuses a port that is open). A call that did not
  /// pass (false) must not touch them.
  class CCall {
   public:
    explicit CCall(CSerialPortBase& port);
    ~CCall();
    CCall(const CCall&) = delete;
    CCall& operator=(const CCall&) = delete;
    explicit operator bool() const { return m_port != nullptr; }

   private:
    CSerialPortBase* m_port = nullptr;
  };

  /// Whether the backend holds its OS handle; called with m_lock held.
  virtual bool HasHandle() const = 0;
  /// Open and not closing; with m_lock held.
  bool UsableLocked() const { return HasHandle() && !m_bClosing.load(); }
  /// Open's end, with m_lock held and the handles in place: no mask, the
  /// write time-out of a new port.
  void Opened();
  /// Close, with m_lock held by `lock`, after setting m_bClosing and waking
  /// the other thread: returns once every call that passed has left.
  void AwaitCallsLeft(std::unique_lock<std::mutex>& lock);
  /// Close's end, the handles gone (m_lock held): the port may open again.
  void Closed();
  /// Keeps `failure` as the last one; LastError is its step, followed by
  /// `osText` when the OS gave an error code. Returns false, for the
  /// backends' `return Fail(...)`.
  bool Record(PortFailure failure, const std::string& osText);

  mutable std::mutex m_lock;  // guards the backend's handles and the gate
  std::atomic<bool> m_bClosing{false};
  std::atomic<uint32_t> m_mask{0};
  std::atomic<uint32_t> m_nWriteTimeoutMs{1000};

 private:
  std::condition_variable m_idle;  // signalled when m_nInFlight drops to 0
  int m_nInFlight = 0;
  mutable std::mutex m_errorLock;  // failures may be seen on either thread
  std::string m_strError;
  PortFailure m_failure;
};
