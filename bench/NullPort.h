// A serial port that goes nowhere: writes succeed at once, nothing is ever
// received, and a waiting receive thread is woken only by a cleared mask or
// Close. Lets the micro benchmarks run the link and the engine without any
// device in the way.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>

#include "platform/SerialPort.h"

class CNullPort : public ISerialPort {
 public:
  bool Open(const std::string& device) override;
  bool IsOpen() const override;
  bool SetEventMask(uint32_t mask) override;
  bool SetupQueues(uint32_t, uint32_t) override { return IsOpen(); }
  bool Purge() override { return IsOpen(); }
  bool SetTimeouts(uint32_t, uint32_t) override { return IsOpen(); }
  bool ApplyLineSettings(const SerialLineSettings&) override { return IsOpen(); }
  /// Blocks until the mask is cleared or the port closed.
  PortWait WaitEvent() override;
  int QueuedInput() override { return 0; }
  int Read(uint8_t*, uint32_t) override { return 0; }
  /// Counts the bytes and returns at once.
  bool Write(const uint8_t* data, uint32_t count) override;
  bool ClearDtrRts() override { return IsOpen(); }
  bool Close() override;
  const std::string& LastError() const override { return m_strError; }

  /// Bytes written since the port was created.
  uint64_t Written() const { return m_nWritten; }

 private:
  mutable std::mutex m_lock;
  std::condition_variable m_cv;
  bool m_bOpen = false;
  uint32_t m_mask = 0;
  uint64_t m_nWritten = 0;
  std::string m_strError;
};

/// Installs CNullPort as the port factory for its lifetime and maps COM
/// 1..count to null devices.
class CNullPorts {
 public:
  explicit CNullPorts(int count);
  ~CNullPorts();
  CNullPorts(const CNullPorts&) = delete;
  CNullPorts& operator=(const CNullPorts&) = delete;

 private:
  SerialPortFactory m_previous;
  int m_nCount;
};
