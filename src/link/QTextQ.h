// The bounded, locked queue of log lines of one download entry. Producers on
// any thread put lines; only the dialog's thread takes them out.
#pragma once

#include <mutex>
#include <string>

// Log line kinds (colour of the line in the entry's view).
constexpr int LOG_BLUE = 1;
constexpr int LOG_INFO = 2;
constexpr int LOG_ERROR = 3;
constexpr int LOG_STATUS = 4;

/// One queued log line.
class CTextQItem {
 public:
  CTextQItem() = default;
  CTextQItem(int k, std::string t) : kind(k), text(std::move(t)) {}
  virtual ~CTextQItem() = default;
  CTextQItem(const CTextQItem&) = default;
  CTextQItem& operator=(const CTextQItem&) = default;

  /// Back to the default state: kind 0, empty text.
  void Reset();

  int kind = 0;      ///< LOG_INFO, LOG_ERROR, LOG_STATUS ...
  std::string text;  ///< the line, without a line break (UTF-8)
};

/// A ring of 101 slots: at most 100 lines, one slot always free.
class CQTextQ {
 public:
  static constexpr int CAPACITY = 101;

  CQTextQ();
  virtual ~CQTextQ() = default;
  CQTextQ(const CQTextQ&) = delete;
  CQTextQ& operator=(const CQTextQ&) = delete;

  /// Empties the queue and resets every slot.
  void Reset();

  /// Appends a line. False (and the trace line "TEXT QUEUE FULL\n") when
  /// 100 lines are already queued; nothing is stored then.
  bool Put(int kind, std::string text);

  /// Removes the oldest line into `out`. False when empty (out unchanged).
  bool Get(CTextQItem& out);

 private:
  bool IsEmpty() const;  // lock held
  bool IsFull() const;   // lock held

  int m_nHead = 0;
  int m_nTail = 0;
  int m_nCapacity = CAPACITY;
  CTextQItem m_items[CAPACITY];
  std::mutex m_lock;
};
