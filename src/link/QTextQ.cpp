#include "link/QTextQ.h"

#include "link/Trace.h"

void CTextQItem::Reset() {
  kind = 0;
  text.clear();
}

CQTextQ::CQTextQ() { Reset(); }

void CQTextQ::Reset() {
  std::lock_guard<std::mutex> guard(m_lock);
  m_nHead = 0;
  m_nTail = 0;
  for (int i = 0; i < m_nCapacity; ++i) m_items[i].Reset();
}

bool CQTextQ::Put(int kind, std::string text) {
  {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!IsFull()) {
      m_items[m_nTail].kind = kind;
      m_items[m_nTail].text = std::move(text);
      if (++m_nTail == m_nCapacity) m_nTail = 0;
      return true;
    }
  }
  // Traced after the queue's lock is released: the trace stream has a lock
  // of its own, and the queue never holds two.
  Trace("TEXT QUEUE FULL\n");
  return false;
}

bool CQTextQ::Get(CTextQItem& out) {
  std::lock_guard<std::mutex> guard(m_lock);
  if (IsEmpty()) return false;
  out = m_items[m_nHead];
  m_items[m_nHead].Reset();
  if (++m_nHead == m_nCapacity) m_nHead = 0;
  return true;
}

bool CQTextQ::IsEmpty() const { return m_nHead == m_nTail; }

bool CQTextQ::IsFull() const {
  int next = m_nTail + 1;
  if (next == m_nCapacity) next = 0;
  return next == m_nHead;
}
