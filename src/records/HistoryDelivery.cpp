#include "HistoryDelivery.h"

#include <algorithm>
#include <vector>

#include "CentralHistory.h"
#include "HistoryStore.h"
#include "SocketWait.h"
#include "link/Trace.h"

CHistoryDelivery::CHistoryDelivery(std::string localPath, std::string uri, DeliveryOptions options)
    : m_localPath(std::move(localPath)), m_uri(std::move(uri)), m_options(options),
      m_wake(std::make_unique<CWakeEvent>()) {}

CHistoryDelivery::~CHistoryDelivery() { Stop(std::chrono::milliseconds(0)); }

void CHistoryDelivery::Start() {
  if (!m_thread.joinable()) m_thread = std::thread([this] { Run(); });
}

void CHistoryDelivery::Nudge() {
  {
    std::lock_guard<std::mutex> guard(m_lock);
    m_bNudged = true;
  }
  m_cv.notify_all();
}

void CHistoryDelivery::Stop(std::chrono::milliseconds grace) {
  if (!m_thread.joinable()) return;
  std::unique_lock<std::mutex> lock(m_lock);
  m_bFinishing = true;
  m_cv.notify_all();
  m_cv.wait_for(lock, grace, [this] { return m_bDone; });
  m_bStop = true;
  lock.unlock();
  m_wake->Signal();
  m_cv.notify_all();
  m_thread.join();
}

uint64_t CHistoryDelivery::Delivered() const {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_nDelivered;
}

bool CHistoryDelivery::Rest(std::chrono::milliseconds pause, bool serverDown) {
  std::unique_lock<std::mutex> lock(m_lock);
  auto over = [&] { return m_bStop || (m_bFinishing && serverDown); };
  if (pause.count() > 0)
    m_cv.wait_for(lock, pause, [&] { return over() || m_bNudged || m_bFinishing; });
  m_bNudged = false;
  return !over();
}

void CHistoryDelivery::Run() {
  CCentralHistory central(m_uri, m_wake.get(), m_options.operationLimit);
  std::unique_ptr<IHistoryStore> local;
  std::chrono::milliseconds pause{0}, wait{0};
  bool down = false;
  auto problem = [&](const std::string& text) {
    pause = pause.count() == 0 ? m_options.firstPause : std::min(pause * 2, m_options.longestPause);
    wait = pause;
    down = true;
    Trace("history: " + text + "; next delivery in " + std::to_string(pause.count()) + " ms\n");
  };
  std::string error;
  std::vector<HandsetRecord> batch;
  while (Rest(wait, down)) {
    if (!local && !(local = OpenLocalHistory(m_localPath, error))) {
      problem(error);
      continue;
    }
    batch.clear();
    if (!local->Undelivered(m_options.batch, batch, error)) {
      local.reset();
      problem(error);
      continue;
    }
    if (batch.empty()) {
      std::lock_guard<std::mutex> guard(m_lock);
      if (m_bFinishing) break;
      wait = m_options.idleLook;
      down = false;
      continue;
    }
    if (!central.Deliver(batch, error)) {
      problem(error);
      continue;
    }
    std::vector<std::string> ids;
    for (const HandsetRecord& r : batch) ids.push_back(r.id);
    // Should this fail, the server keeps its copies and the next delivery
    // of the same ids stores nothing twice.
    if (!local->MarkDelivered(ids, error)) {
      problem(error);
      continue;
    }
    {
      std::lock_guard<std::mutex> guard(m_lock);
      m_nDelivered += ids.size();
    }
    pause = wait = std::chrono::milliseconds(0);
    down = false;
  }
  std::lock_guard<std::mutex> guard(m_lock);
  m_bDone = true;
  m_cv.notify_all();
}
