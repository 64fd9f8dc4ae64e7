// The line's central database: every station delivers its records there,
// and a supervisor reads the whole line from it. PostgreSQL, reached through
// a connection URI that may carry a password: no text this class hands out
// (errors, traces) ever holds it.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "HandsetRecord.h"
#include "HistoryStore.h"

class CWakeEvent;

class CCentralHistory {
 public:
  /// `wake`, when given, cuts every wait short (a stop); it must outlive
  /// the object. `operationLimit` bounds each connection attempt and each
  /// statement, so that a server that stops answering is given up.
  explicit CCentralHistory(std::string uri, const CWakeEvent* wake = nullptr,
                           std::chrono::milliseconds operationLimit = std::chrono::seconds(30));
  ~CCentralHistory();
  CCentralHistory(const CCentralHistory&) = delete;
  CCentralHistory& operator=(const CCentralHistory&) = delete;

  /// Connects unless connected, and creates the central schema on first
  /// use. False with the reason.
  bool Connect(std::string& error);
  /// Stores `records` in one statement; a record whose id is already there
  /// stays as it is, so delivering twice stores once.
  bool Deliver(const std::vector<HandsetRecord>& records, std::string& error);
  /// The records of every station whose start lies in `period`, by start.
  bool Query(const HistoryPeriod& period, std::vector<HandsetRecord>& out, std::string& error);
  void Disconnect();

 private:
  struct Impl;
  std::unique_ptr<Impl> m;
};

/// `uri` with its password (in the user part or a password parameter)
/// replaced by "***", for naming the server in messages.
std::string RedactUri(const std::string& uri);

/// `text` with every occurrence of `uri`'s password (as written and
/// percent-decoded) replaced by "***".
std::string ScrubPassword(const std::string& text, const std::string& uri);
