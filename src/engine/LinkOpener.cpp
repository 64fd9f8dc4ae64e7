#include "LinkOpener.h"

#include <system_error>

void CLinkOpener::Start(const std::vector<std::vector<int>>& groups, OpenFn open, DoneFn done) {
  Join();
  m_open = std::move(open);
  m_done = std::move(done);
  m_opened.fill(false);
  // One count for the launch too: a group that finishes before the next
  // thread is started must not report the whole set done.
  m_nLeft.store(static_cast<int>(groups.size()) + 1);
  try {
    m_launcher = std::thread([this, groups] { Launch(groups); });
  } catch (const std::system_error&) {
    Launch(groups);
  }
}

void CLinkOpener::Launch(const std::vector<std::vector<int>>& groups) {
  for (const std::vector<int>& group : groups) {
    try {
      m_threads.emplace_back([this, group] { RunGroup(group); });
    } catch (const std::system_error&) {
      RunGroup(group);
    }
  }
  if (m_nLeft.fetch_sub(1) == 1 && m_done) m_done();
}

void CLinkOpener::RunGroup(const std::vector<int>& group) {
  // Each entry's slot is written by this thread alone and read after Join.
  for (int entry : group)
    if (entry >= 0 && entry < MAX_ENTRIES) m_opened[entry] = m_open(entry);
  if (m_nLeft.fetch_sub(1) == 1 && m_done) m_done();
}

void CLinkOpener::Join() {
  if (m_launcher.joinable()) m_launcher.join();
  for (std::thread& t : m_threads)
    if (t.joinable()) t.join();
  m_threads.clear();
}
