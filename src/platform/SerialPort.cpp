#include "platform/SerialPort.h"

#include <mutex>
#include <utility>

#include "platform/SerialPortPosix.h"

namespace {

std::mutex& FactoryLock() {
  static std::mutex lock;
  return lock;
}

SerialPortFactory& CurrentFactory() {
  static SerialPortFactory factory;
  return factory;
}

}  // namespace

std::unique_ptr<ISerialPort> CreateSerialPort() {
  SerialPortFactory factory;
  {
    std::lock_guard<std::mutex> guard(FactoryLock());
    factory = CurrentFactory();
  }
  // Called outside the lock: a test's factory may itself create ports.
  if (factory) return factory();
  return std::make_unique<CSerialPortPosix>();
}

SerialPortFactory SetSerialPortFactory(SerialPortFactory factory) {
  std::lock_guard<std::mutex> guard(FactoryLock());
  return std::exchange(CurrentFactory(), std::move(factory));
}
