// What a link tells its owner. The link knows nothing of windows or message
// numbers; the owner decides how the news reaches its own thread.
#pragma once

#include <string>

class ILinkEvents {
 public:
  virtual ~ILinkEvents() = default;

  /// A reply packet of entry `entry` waits in the link (CBssComm::CopyPacket).
  /// Called on the receive thread: must not block.
  virtual void PacketWaiting(int entry) = 0;

  /// Log lines of entry `entry` wait in its text queue. Any thread; must not
  /// block.
  virtual void LogLinesWaiting(int entry) = 0;

  /// Something the operator must see now (a port that would not close).
  /// Called on the owner's thread only; may wait for the operator.
  virtual void ShowMessage(const std::string& text) = 0;
};
