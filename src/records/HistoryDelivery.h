// Hands the local history's undelivered records to the central database,
// oldest first, on a thread of its own: the local file is the outbox, so a
// server that is down, slow or restarted costs a run nothing and loses
// nothing. A record is marked delivered only once the server has it; one
// delivered twice (a crash between the two) is stored there once.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

struct DeliveryOptions {
  /// Pauses while the server is unreachable: the first, doubled after each
  /// failure up to the longest.
  std::chrono::milliseconds firstPause = std::chrono::seconds(1);
  std::chrono::milliseconds longestPause = std::chrono::seconds(60);
  /// How often the outbox is looked at when nothing nudges (records other
  /// programs wrote into the same file).
  std::chrono::milliseconds idleLook = std::chrono::seconds(5);
  /// Longest a connection attempt or a statement may take.
  std::chrono::milliseconds operationLimit = std::chrono::seconds(30);
  size_t batch = 200;
};

class CWakeEvent;

class CHistoryDelivery {
 public:
  CHistoryDelivery(std::string localPath, std::string uri, DeliveryOptions options = {});
  /// Stop(0).
  ~CHistoryDelivery();
  CHistoryDelivery(const CHistoryDelivery&) = delete;
  CHistoryDelivery& operator=(const CHistoryDelivery&) = delete;

  void Start();
  /// A record was written: look at the outbox now.
  void Nudge();
  /// Ends the thread. While the server answers, what is pending is handed
  /// over first, for at most `grace`; an unreachable server is not waited for.
  void Stop(std::chrono::milliseconds grace);

  /// Records this object delivered so far.
  uint64_t Delivered() const;

 private:
  void Run();
  /// Waits for a nudge, a stop or `pause`; false when the thread is to end.
  bool Rest(std::chrono::milliseconds pause, bool serverDown);

  const std::string m_localPath, m_uri;
  const DeliveryOptions m_options;
  mutable std::mutex m_lock;
  std::condition_variable m_cv;
  bool m_bNudged = false, m_bFinishing = false, m_bStop = false, m_bDone = false;
  uint64_t m_nDelivered = 0;
  /// Cuts the central database's waits short at a stop.
  std::unique_ptr<CWakeEvent> m_wake;
  std::thread m_thread;
};
